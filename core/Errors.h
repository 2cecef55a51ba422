// The program's errors: exceptions that carry the exact text shown to the user.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace swelox {

// Whether an error belongs to one picture (the batch tool may skip it and go on) or to the
// settings, which would fail every picture alike and so end the run.
enum class ErrorScope { File, Settings };

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message, ErrorScope scope = ErrorScope::File,
                 std::string detail = {})
      : std::runtime_error(message), scope_(scope), detail_(std::move(detail)) {}
  ErrorScope scope() const { return scope_; }
  // The decoder's own explanation, where it gave one ("Not a JPEG file: starts with 0x68 0x65");
  // empty otherwise. what() stays the program's message, which users and scripts match.
  const std::string& detail() const { return detail_; }

 private:
  ErrorScope scope_;
  std::string detail_;
};

// An error that ends a handler without any message.
class SilentAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

inline constexpr const char* kIntegerOverflow = "Integer overflow";
inline constexpr const char* kRangeCheckError = "Range check error";
inline constexpr const char* kDivisionByZero = "Division by zero";
inline constexpr const char* kOutOfMemory = "Out of memory";

// Whatever was thrown, as the error it stands for: an Error as it is, a failed allocation as
// "Out of memory", another standard exception by its text, anything else as "Unknown error".
Error ErrorFromException(std::exception_ptr failure);

// The text shown to the user: a message whose last character comes after "." gets a full stop.
std::string WithFullStop(const std::string& message);

// The message with the decoder's explanation after it, where there is one, as one sentence:
// "JPEG error #53: Not a JPEG file: starts with 0x68 0x65.".
std::string ExplainedMessage(const Error& error);

}  // namespace swelox
