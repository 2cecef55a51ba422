// Region geometry text.
#include "analysis/Region.h"

#include <cctype>

#include "core/Errors.h"

namespace swelox {
namespace {

// Decimal digits at `at` as a value that, with every other part, stays within 32 bits.
bool ReadNumber(const std::string& text, size_t& at, int64_t& value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
    value = value * 10 + (text[at++] - '0');
    if (value > INT32_MAX) return false;
  }
  return at > start;
}

bool Expect(const std::string& text, size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

}  // namespace

std::optional<PixelRegion> ParseRegion(const std::string& text) {
  if (text.find_first_not_of(' ') == std::string::npos) return std::nullopt;
  const Error malformed(ErrorKind::Usage, "'" + text + "' is not a valid region (WxH+X+Y)",
                        ErrorScope::Settings);
  size_t at = 0;
  int64_t w = 0, h = 0, x = 0, y = 0;
  if (!ReadNumber(text, at, w) || !(Expect(text, at, 'x') || Expect(text, at, 'X')) ||
      !ReadNumber(text, at, h)) {
    throw malformed;
  }
  if (at < text.size() && (!Expect(text, at, '+') || !ReadNumber(text, at, x) ||
                           !Expect(text, at, '+') || !ReadNumber(text, at, y))) {
    throw malformed;
  }
  if (at != text.size() || w == 0 || h == 0 || x + w > INT32_MAX || y + h > INT32_MAX) {
    throw malformed;
  }
  return PixelRegion{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w),
                     static_cast<int32_t>(h)};
}

}  // namespace swelox
