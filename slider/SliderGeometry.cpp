#include "SliderGeometry.h"

#include <cmath>
#include <limits>

namespace comkeys::slider {

namespace {
    bool fits16(double v)
    {
        return v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max();
    }
} // namespace

double roundHalfEven(double x)
{
    const double down = std::floor(x);
    const double diff = x - down;
    if (diff > 0.5) {
        return down + 1;
    }
    if (diff < 0.5) {
        return down;
    }
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

std::optional<std::int16_t> difference16(std::int32_t a, std::int32_t b)
{
    const std::int64_t d = std::int64_t(a) - b;
    if (!fits16(double(d))) {
        return std::nullopt;
    }
    return std::int16_t(d);
}

std::optional<float> sliderPosFromValue(int orientation, double travel, std::int32_t n, std::int16_t min,
                                        std::int32_t range)
{
    const std::optional<std::int16_t> offset = difference16(n, min);
    if (range == 0 || !offset || (orientation != Horizontal && orientation != Vertical)) {
        return std::nullopt;
    }
    const double along = travel * *offset / range;
    return float(orientation == Horizontal ? along : travel - along);
}

Snap valueFromSlider(int orientation, double travel, float position, std::int16_t min, std::int32_t range)
{
    Snap snap;
    if (orientation != Horizontal && orientation != Vertical) {
        return snap;
    }
    if (travel != 0 && range != 0) {
        const double share = orientation == Horizontal ? position / travel : (travel - position) / travel;
        const double v = roundHalfEven(share * range + min);
        if (std::isfinite(v) && fits16(v)) {
            snap.value = std::int16_t(v);
        }
    }
    snap.position = sliderPosFromValue(orientation, travel, snap.value, min, range);
    return snap;
}

std::optional<RailRect> railRect(int orientation, double sw, double sh, double scaleWidth, double scaleHeight)
{
    RailRect r;
    if (orientation == Horizontal) {
        r.Top = std::int32_t(roundHalfEven((sh - 4) * 0.5));
        r.Bottom = r.Top + 4;
        r.Left = std::int32_t(roundHalfEven(sw * 0.5 - 2));
        r.Right = std::int32_t(roundHalfEven(scaleWidth + r.Left - sw + 4));
        return r;
    }
    if (orientation == Vertical) {
        r.Top = std::int32_t(roundHalfEven(sh * 0.5 - 2));
        r.Bottom = std::int32_t(roundHalfEven(scaleHeight + r.Top - sh + 4));
        r.Left = std::int32_t(roundHalfEven((sw - 4) * 0.5));
        r.Right = r.Left + 4;
        return r;
    }
    return std::nullopt;
}

} // namespace comkeys::slider
