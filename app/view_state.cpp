#include "app/view_state.h"

#include <algorithm>

namespace tessaline {

void ViewState::SetZoom(int z)
{
    if (z < 1)
        return;
    zoom = z;
    shrink = 1;
    Announce();
}

void ViewState::SetShrink(int d)
{
    if (d < 1)
        return;
    zoom = 1;
    shrink = d;
    Announce();
}

void ViewState::Announce()
{
    position = QPoint(0, 0);
    emit zoomChanged(zoom);
    emit positionChanged(position);
}

std::pair<int, int> FitScale(QSize image, QSize viewport, int maxZoom)
{
    if (image.isEmpty() || viewport.isEmpty())
        return {1, 1};
    if (image.width() <= viewport.width() && image.height() <= viewport.height()) {
        const int zoom = std::min(viewport.width() / image.width(), viewport.height() / image.height());
        return {std::clamp(zoom, 1, maxZoom), 1};
    }
    const auto divisor = [](int length, int room) { return (length + room - 1) / room; };
    return {1,
            std::max(divisor(image.width(), viewport.width()), divisor(image.height(), viewport.height()))};
}

void ViewState::SetPosition(QPoint p)
{
    if (p == position)
        return;
    position = p;
    emit positionChanged(position);
}

} // namespace tessaline
