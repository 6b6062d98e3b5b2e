#include "runtime/checked.h"

#include <cmath>
#include <limits>

#include "runtime/error.h"

namespace runtime {

namespace {

template <typename Int>
Int IncrementChecked(Int value) {
    if (value == std::numeric_limits<Int>::max()) Raise(kOverflow);
    return static_cast<Int>(value + 1);
}

template <typename Int>
Int RoundChecked(double value) {
    if (!std::isfinite(value)) Raise(kOverflow);
    // nearbyint follows the default rounding mode, round to nearest even.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
        Raise(kOverflow);
    }
    return static_cast<Int>(rounded);
}

}  // namespace

std::int32_t Increment(std::int32_t value) { return IncrementChecked(value); }
std::int16_t Increment(std::int16_t value) { return IncrementChecked(value); }

float CheckedFloat(double result) {
    const float single = static_cast<float>(result);
    if (!std::isfinite(single)) Raise(kOverflow);
    return single;
}

std::int32_t ToLong(double value) { return RoundChecked<std::int32_t>(value); }
std::int16_t ToInteger(double value) { return RoundChecked<std::int16_t>(value); }

}  // namespace runtime
