// A small JSON value, written with every string escaped, and read back: enough for the
// descriptors that travel beside the tables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace swelox::json {

class Value {
 public:
  enum class Kind { Null, Boolean, Number, String, Array, Object };

  Value() = default;  // null
  static Value Boolean(bool value);
  static Value Integer(int64_t value);
  // A number as written; the text must be a JSON number.
  static Value NumberText(std::string text);
  static Value String(std::string text);
  static Value Array();
  static Value Object();

  Kind kind() const { return kind_; }
  bool boolean() const { return boolean_; }
  // A string's text, or a number as written.
  const std::string& text() const { return text_; }
  // A number without fraction or exponent that fits; nullopt otherwise.
  std::optional<int64_t> integer() const;

  // An array's elements, or an object's values in the order of their keys.
  const std::vector<Value>& items() const { return items_; }
  const std::vector<std::string>& keys() const { return keys_; }

  // Appends to an array; returns the element added.
  Value& Add(Value item);
  // Appends a member to an object (keys are not checked for repeats); returns the value added.
  Value& Set(std::string key, Value value);
  // The value of an object's first member with `key`, or nullptr (also for a non-object).
  const Value* Find(std::string_view key) const;

 private:
  Kind kind_ = Kind::Null;
  bool boolean_ = false;
  std::string text_;
  std::vector<Value> items_;
  std::vector<std::string> keys_;
};

// A JSON string literal: quotes, backslashes and control characters escaped; a byte that is not
// part of valid UTF-8 becomes U+FFFD, so that the text is always valid JSON.
std::string Quoted(std::string_view text);

// Indented by two spaces per level, one member or element a line, ending without a line feed.
std::string Serialize(const Value& value);

// Raises Error(settings) "not valid JSON at byte N" for a malformed text (RFC 8259; nesting at
// most 64 deep).
Value Parse(std::string_view text);

}  // namespace swelox::json
