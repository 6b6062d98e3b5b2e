// Arithmetic that never wraps: leaving a range raises error 6 (overflow).
#pragma once

#include <cstdint>

namespace runtime {

// Adds one to a 32-bit or 16-bit counter.
std::int32_t Increment(std::int32_t value);
std::int16_t Increment(std::int16_t value);

// Checks the result of a floating-point operation: infinity or NaN raise error 6.
float CheckedFloat(double result);

// Conversions to integers: to the nearest, halves to the even neighbour;
// outside the target range, infinity or NaN raise error 6.
std::int32_t ToLong(double value);
std::int16_t ToInteger(double value);

}  // namespace runtime
