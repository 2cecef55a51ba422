// Escaping of the bytes that are not printable UTF-8.
#include "core/PrintableText.h"

namespace swelox {
namespace {

void AppendHex(std::string& escaped, unsigned char byte) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  escaped += "\\x";
  escaped += kHexDigits[byte >> 4];
  escaped += kHexDigits[byte & 0xF];
}

unsigned char ByteAt(std::string_view text, size_t i) {
  return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// The length of the well-formed UTF-8 sequence of two to four bytes that starts at i (no
// overlong form, no surrogate, nothing past U+10FFFF), or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t i) {
  const unsigned char lead = ByteAt(text, i);
  size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // the surrogates U+D800 to U+DFFF
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  const unsigned char second = ByteAt(text, i + 1);
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    const unsigned char next = ByteAt(text, i + k);
    if (next < 0x80 || next > 0xBF) return 0;
  }
  return length;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

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
        continue;
      case '\t':
        escaped += "\\t";
        continue;
      case '\r':
        escaped += "\\r";
        continue;
      case '\n':
        escaped += "\\n";
        continue;
      default:
        break;
    }
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        AppendHex(escaped, byte);
      } else {
        escaped += c;
      }
      continue;
    }
    const size_t length = SequenceLength(text, i);
    // A C1 control (U+0080 to U+009F, C2 80 to C2 9F) is obeyed by a terminal like a C0 one.
    const bool control = length == 2 && byte == 0xC2 && ByteAt(text, i + 1) <= 0x9F;
    if (length == 0) {
      // A byte of no character: in an 8-bit terminal 0x9B alone opens a control sequence.
      AppendHex(escaped, byte);
    } else if (control) {
      AppendHex(escaped, byte);
      AppendHex(escaped, ByteAt(text, ++i));
    } else {
      escaped.append(text.substr(i, length));
      i += length - 1;
    }
  }
  return escaped;
}

std::string UnescapeControlBytes(std::string_view escaped) {
  std::string text;
  text.reserve(escaped.size());
  for (size_t i = 0; i < escaped.size(); ++i) {
    const char c = escaped[i];
    const char next = i + 1 < escaped.size() ? escaped[i + 1] : '\0';
    if (c != '\\') {
      text += c;
    } else if (next == '\\') {
      text += '\\';
      ++i;
    } else if (next == 't' || next == 'r' || next == 'n') {
      text += next == 't' ? '\t' : next == 'r' ? '\r' : '\n';
      ++i;
    } else if (next == 'x' && i + 3 < escaped.size() && HexValue(escaped[i + 2]) >= 0 &&
               HexValue(escaped[i + 3]) >= 0) {
      text += static_cast<char>(HexValue(escaped[i + 2]) * 16 + HexValue(escaped[i + 3]));
      i += 3;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace swelox
