// Escaping of control bytes.
#include "core/PrintableText.h"

namespace swelox {

std::string EscapeControlBytes(std::string_view text, Backslash backslash) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        escaped += backslash == Backslash::Doubled ? "\\\\" : "\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          escaped += "\\x";
          escaped += kHexDigits[byte >> 4];
          escaped += kHexDigits[byte & 0xF];
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

}  // namespace swelox
