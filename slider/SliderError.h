#pragma once

#include "ComKeysSliderExport.h"

#include <QString>
#include <stdexcept>

namespace comkeys {

// A broken rule of a slider property: 380 (invalid property value) or 6 (overflow). The
// slider's state is left as it was before the call that raised it.
class COMKEYS_SLIDER_EXPORT SliderError : public std::runtime_error {
public:
    static constexpr int InvalidPropertyValue = 380;
    static constexpr int Overflow = 6;

    SliderError(int number, const char* what)
        : std::runtime_error(what)
        , m_number(number)
    {
    }
    int number() const { return m_number; }

private:
    int m_number;
};

} // namespace comkeys
