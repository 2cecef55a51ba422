// 80-bit x87 extended arithmetic: the precision in which every floating-point result is formed.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/Checked.h"

namespace swelox {

using Extended = long double;
static_assert(std::numeric_limits<Extended>::digits == 64,
              "Swelox needs long double to be the 80-bit x87 extended type (64-bit significand)");

// Puts the x87 unit in extended precision, round to nearest, as the results assume: a file dialog
// or a plug-in may have left other settings behind.
void UseExtendedPrecision();

// The x87 rounding instruction under the round-to-nearest control word: ties go to even. (libm's
// nearbyintl does the same but saves and restores the whole environment on every call.)
inline Extended RoundToNearest(Extended v) {
  Extended r;
  asm("frndint" : "=t"(r) : "0"(v));
  return r;
}

// Round to nearest, ties to even, into 64 bits; a value beyond 64 bits is a range error.
inline int64_t RoundToInt64(Extended v, ErrorScope scope = ErrorScope::File) {
  Extended r = RoundToNearest(v);
  if (!(r >= -0x1p63L && r < 0x1p63L)) checked::RangeCheck(scope);
  return static_cast<int64_t>(r);
}

// Round to nearest, ties to even, into 32 bits: "Range check error" when it does not fit.
// fistp rounds by the control word as frndint does, in one step; a cast would switch the control
// word to truncation and back for every value.
inline int32_t RoundToInt32(Extended v, ErrorScope scope = ErrorScope::File) {
  // Exactly the values that round into range: -2^31 - 0.5 goes to the even -2^31, 2^31 - 0.5 to
  // the even 2^31.
  if (!(v >= -0x1p31L - 0.5L && v < 0x1p31L - 0.5L)) checked::RangeCheck(scope);
  int32_t rounded;
  asm("fistpl %0" : "=m"(rounded) : "t"(v) : "st");
  return rounded;
}

}  // namespace swelox
