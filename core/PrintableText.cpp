// Escaping of control bytes.
#include "core/PrintableText.h"

namespace swelox {
namespace {

void AppendHex(std::string& escaped, unsigned char byte) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  escaped += "\\x";
  escaped += kHexDigits[byte >> 4];
  escaped += kHexDigits[byte & 0xF];
}

// The second byte of a C1 control in UTF-8 (U+0080 to U+009F are C2 80 to C2 9F).
bool IsC1Continuation(unsigned char byte) { return byte >= 0x80 && byte <= 0x9F; }

}  // namespace

std::string EscapeControlBytes(std::string_view text, Backslash backslash) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
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
          AppendHex(escaped, byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   IsC1Continuation(static_cast<unsigned char>(text[i + 1]))) {
          AppendHex(escaped, byte);
          AppendHex(escaped, static_cast<unsigned char>(text[++i]));
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

}  // namespace swelox
