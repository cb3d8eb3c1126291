#include "app/view_state.h"

#include <algorithm>
#include <cmath>
#include <numeric>

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

void ViewState::SetScale(int z, int d)
{
    if (z < 1 || d < 1)
        return;
    zoom = z;
    shrink = d;
    Announce();
}

void ViewState::Announce()
{
    position = QPoint(0, 0);
    emit zoomChanged(zoom);
    emit positionChanged(position);
}

int DotShrink(double deviceRatio)
{
    const double whole = std::round(deviceRatio);
    return whole >= 1.0 && whole <= 8.0 && std::abs(deviceRatio - whole) < 1e-6 ? static_cast<int>(whole) : 1;
}

std::pair<int, int> FitScale(QSize image, QSize viewport, int maxZoom)
{
    if (image.isEmpty() || viewport.isEmpty())
        return {1, 1};
    if (image.width() <= viewport.width() && image.height() <= viewport.height()) {
        const int zoom = std::min(viewport.width() / image.width(), viewport.height() / image.height());
        return {std::clamp(zoom, 1, maxZoom), 1};
    }
    // ceil(length * zoom / Steps) <= room holds for zoom = floor(room * Steps / length).
    constexpr long long Steps = 256;
    const long long zoom = std::min(viewport.width() * Steps / image.width(), viewport.height() * Steps / image.height());
    if (zoom < 1) {
        // More than 256 times the viewport: the smallest whole shrink that fits.
        const auto divisor = [](int length, int room) { return (length + room - 1) / room; };
        return {1, std::max(divisor(image.width(), viewport.width()), divisor(image.height(), viewport.height()))};
    }
    const long long common = std::gcd(zoom, Steps);
    return {int(zoom / common), int(Steps / common)};
}

void ViewState::SetPosition(QPoint p)
{
    if (p == position)
        return;
    position = p;
    emit positionChanged(position);
}

} // namespace tessaline
