#include "core/Json.h"

#include <charconv>

#include "core/Errors.h"
#include "core/IntegerText.h"

namespace swelox::json {

Value Value::Boolean(bool value) {
  Value v;
  v.kind_ = Kind::Boolean;
  v.boolean_ = value;
  return v;
}

Value Value::Integer(int64_t value) {
  Value v;
  v.kind_ = Kind::Number;
  v.text_ = FormatInteger(value);
  return v;
}

Value Value::NumberText(std::string text) {
  Value v;
  v.kind_ = Kind::Number;
  v.text_ = std::move(text);
  return v;
}

Value Value::String(std::string text) {
  Value v;
  v.kind_ = Kind::String;
  v.text_ = std::move(text);
  return v;
}

Value Value::Array() {
  Value v;
  v.kind_ = Kind::Array;
  return v;
}

Value Value::Object() {
  Value v;
  v.kind_ = Kind::Object;
  return v;
}

std::optional<int64_t> Value::integer() const {
  if (kind_ != Kind::Number) return std::nullopt;
  int64_t value = 0;
  const char* end = text_.data() + text_.size();
  const auto [stop, error] = std::from_chars(text_.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

Value& Value::Add(Value item) {
  items_.push_back(std::move(item));
  return items_.back();
}

Value& Value::Set(std::string key, Value value) {
  keys_.push_back(std::move(key));
  items_.push_back(std::move(value));
  return items_.back();
}

const Value* Value::Find(std::string_view key) const {
  if (kind_ != Kind::Object) return nullptr;
  for (size_t k = 0; k < keys_.size(); ++k) {
    if (keys_[k] == key) return &items_[k];
  }
  return nullptr;
}

namespace {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not a valid one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char first = byte(0);
  if (first < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

void Indent(std::string& out, int depth) {
  out += '\n';
  out.append(static_cast<size_t>(depth) * 2, ' ');
}

void Write(const Value& value, int depth, std::string& out) {
  switch (value.kind()) {
    case Value::Kind::Null:
      out += "null";
      return;
    case Value::Kind::Boolean:
      out += value.boolean() ? "true" : "false";
      return;
    case Value::Kind::Number:
      out += value.text();
      return;
    case Value::Kind::String:
      out += Quoted(value.text());
      return;
    case Value::Kind::Array:
    case Value::Kind::Object:
      break;
  }
  const bool object = value.kind() == Value::Kind::Object;
  out += object ? '{' : '[';
  for (size_t k = 0; k < value.items().size(); ++k) {
    if (k > 0) out += ',';
    Indent(out, depth + 1);
    if (object) out += Quoted(value.keys()[k]) + ": ";
    Write(value.items()[k], depth + 1, out);
  }
  if (!value.items().empty()) Indent(out, depth);
  out += object ? '}' : ']';
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Value Document() {
    Value value = Any(0);
    Space();
    if (at_ != text_.size()) Fail();
    return value;
  }

 private:
  [[noreturn]] void Fail() const {
    throw Error("not valid JSON at byte " + FormatInteger(static_cast<int64_t>(at_)),
                ErrorScope::Settings);
  }

  void Space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void Expect(char c) {
    if (!Take(c)) Fail();
  }

  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  Value Any(int depth) {
    if (depth > 64) Fail();
    Space();
    if (at_ >= text_.size()) Fail();
    const char c = text_[at_];
    if (c == '{') return ObjectValue(depth);
    if (c == '[') return ArrayValue(depth);
    if (c == '"') return Value::String(StringText());
    if (Word("true")) return Value::Boolean(true);
    if (Word("false")) return Value::Boolean(false);
    if (Word("null")) return Value();
    return NumberValue();
  }

  Value ObjectValue(int depth) {
    Expect('{');
    Value object = Value::Object();
    if (Take('}')) return object;
    do {
      Space();
      if (at_ >= text_.size() || text_[at_] != '"') Fail();
      std::string key = StringText();
      Expect(':');
      object.Set(std::move(key), Any(depth + 1));
    } while (Take(','));
    Expect('}');
    return object;
  }

  Value ArrayValue(int depth) {
    Expect('[');
    Value array = Value::Array();
    if (Take(']')) return array;
    do {
      array.Add(Any(depth + 1));
    } while (Take(','));
    Expect(']');
    return array;
  }

  bool Digits() {
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }

  Value NumberValue() {
    const size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!Digits()) {
      Fail();
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!Digits()) Fail();
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!Digits()) Fail();
    }
    return Value::NumberText(std::string(text_.substr(start, at_ - start)));
  }

  uint32_t Hex4() {
    if (at_ + 4 > text_.size()) Fail();
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        Fail();
      }
    }
    return value;
  }

  static void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string StringText() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail();
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) Fail();
      if (c != '\\') {
        const size_t length = Utf8Length(text_.substr(at_));
        if (length == 0) Fail();
        out += text_.substr(at_, length);
        at_ += length;
        continue;
      }
      ++at_;
      if (at_ >= text_.size()) Fail();
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t code = Hex4();
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (!Word("\\u")) Fail();
            const uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail();
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail();
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          Fail();
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

std::string Quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text.front());
    size_t length = 1;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      length = Utf8Length(text);
      if (length == 0) {
        out += "\\ufffd";
        length = 1;
      } else {
        out += text.substr(0, length);
      }
    }
    text.remove_prefix(length);
  }
  return out + "\"";
}

std::string Serialize(const Value& value) {
  std::string out;
  Write(value, 0, out);
  return out;
}

Value Parse(std::string_view text) { return Parser(text).Document(); }

}  // namespace swelox::json
