// The one rule by which every number typed as text becomes a 32-bit integer, and back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Errors.h"

namespace swelox {

// Leading spaces (not tabs), an optional sign, then decimal digits or hexadecimal digits after
// "$", "x", "X", "0x" or "0X"; nothing may follow. Hexadecimal takes up to 32 bits as a pattern
// ("$FFFFFFFF" is -1) with the sign applied afterwards. Raises "'%s' is not a valid integer
// value" with the text in place of %s.
int32_t ParseInteger(std::string_view text, ErrorScope scope = ErrorScope::Settings);

// Plain decimal, with a leading "-" when negative.
std::string FormatInteger(int64_t value);

std::string NotAnIntegerMessage(std::string_view text);

}  // namespace swelox
