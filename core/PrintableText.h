// Text from outside (file names, paths inside messages) made safe to print: no control byte
// reaches a terminal or a tab-separated row raw.
#pragma once

#include <string>
#include <string_view>

namespace swelox {

// Whether a backslash is written doubled, so that the escaped text can be read back (a column of
// a row), or as it is (a message, read by a person).
enum class Backslash { Doubled, AsItIs };

// Tab, carriage return and line feed become \t, \r and \n; every other byte below 0x20, and 0x7F,
// becomes \xHH with two upper-case hex digits, and so do both bytes of a C1 control in UTF-8
// (C2 80 to C2 9F, U+0080 to U+009F, which a terminal obeys like the C0 ones) and every byte
// that is not part of a well-formed UTF-8 character (a lone 0x9B is a CSI to an 8-bit
// terminal), whatever the locale. Printable UTF-8 characters stay as they are.
std::string EscapeControlBytes(std::string_view text, Backslash backslash);

// The text that EscapeControlBytes(..., Backslash::Doubled) was given: \\, \t, \r, \n and \xHH
// (two hex digits of either case) become their bytes again; a backslash that starts none of these
// stays as it is.
std::string UnescapeControlBytes(std::string_view escaped);

}  // namespace swelox
