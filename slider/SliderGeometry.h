#pragma once

#include "ComKeysSliderExport.h"

#include <cstdint>
#include <optional>

// The slider's value-to-pixel arithmetic, free of any widget. Positions are single precision,
// worked out in double precision; a step that cannot be computed yields nothing and is skipped.
namespace comkeys::slider {

constexpr int Horizontal = 0;
constexpr int Vertical = 1;

// Nearest integer, ties to the even one (2.5 gives 2, 7.5 gives 8).
COMKEYS_SLIDER_EXPORT double roundHalfEven(double x);

// A difference of two 16-bit values, or nothing when it leaves the 16-bit range.
COMKEYS_SLIDER_EXPORT std::optional<std::int16_t> difference16(std::int32_t a, std::int32_t b);

// The thumb's Left (horizontal) or Top (vertical) for value n; nothing for another
// orientation, a zero range or a difference n - min outside 16 bits.
COMKEYS_SLIDER_EXPORT std::optional<float> sliderPosFromValue(int orientation, double travel, std::int32_t n, std::int16_t min,
                                        std::int32_t range);

struct Snap {
    std::int16_t value = 0;
    std::optional<float> position; // where the thumb snaps to, when it can be computed
};
// The value a thumb position stands for, and the position of that value.
COMKEYS_SLIDER_EXPORT Snap valueFromSlider(int orientation, double travel, float position, std::int16_t min, std::int32_t range);

struct RailRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    bool operator==(const RailRect&) const = default;
};
// The 4-pixel strip along the thumb's path; nothing for another orientation.
COMKEYS_SLIDER_EXPORT std::optional<RailRect> railRect(int orientation, double thumbWidth, double thumbHeight, double scaleWidth,
                                 double scaleHeight);

} // namespace comkeys::slider
