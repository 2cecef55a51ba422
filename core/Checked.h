// 32-bit integer arithmetic that raises instead of wrapping.
#pragma once

#include <cstdint>

#include "core/Errors.h"

namespace swelox::checked {

[[noreturn]] inline void Overflow(ErrorScope scope = ErrorScope::File) {
  throw Error(kIntegerOverflow, scope);
}
[[noreturn]] inline void RangeCheck(ErrorScope scope = ErrorScope::File) {
  throw Error(kRangeCheckError, scope);
}

inline int32_t Add(int32_t a, int32_t b, ErrorScope scope = ErrorScope::File) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) Overflow(scope);
  return r;
}
inline int32_t Sub(int32_t a, int32_t b, ErrorScope scope = ErrorScope::File) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) Overflow(scope);
  return r;
}
inline int32_t Mul(int32_t a, int32_t b, ErrorScope scope = ErrorScope::File) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) Overflow(scope);
  return r;
}
// Truncating division; INT32_MIN / -1 overflows.
inline int32_t Div(int32_t a, int32_t b, ErrorScope scope = ErrorScope::File) {
  if (b == 0) throw Error(kDivisionByZero, scope);
  if (a == INT32_MIN && b == -1) Overflow(scope);
  return a / b;
}
// Narrowing to 32 bits, as a range-checked assignment does.
inline int32_t Narrow(int64_t v, ErrorScope scope = ErrorScope::File) {
  if (v < INT32_MIN || v > INT32_MAX) RangeCheck(scope);
  return static_cast<int32_t>(v);
}

}  // namespace swelox::checked
