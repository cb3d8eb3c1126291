#include "app/view_state.h"

namespace tessaline {

void ViewState::SetZoom(int z)
{
    if (z < 1)
        return;
    zoom = z;
    position = QPoint(0, 0);
    emit zoomChanged(zoom);
    emit positionChanged(position);
}

void ViewState::SetPosition(QPoint p)
{
    if (p == position)
        return;
    position = p;
    emit positionChanged(position);
}

} // namespace tessaline
