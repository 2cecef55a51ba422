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

// What caused an error, for the code that decides what to do about it (analyse a file again,
// stay silent); the message is only ever the text the user reads.
enum class ErrorKind {
  Other,             // nothing told apart below
  OutOfMemory,       // an allocation or the decoder's memory failed
  OutOfDescriptors,  // no file descriptor to be had (EMFILE, ENFILE): the process's or the
                     // system's lack, which other files open at the same time may have caused
  InputOutput,       // a file or folder that cannot be opened, read or written
  Decode,            // the JPEG data: libjpeg's errors, unsupported files, a region outside
  Usage,             // a setting that stands for nothing: not a number, an unknown name
  Stopped,           // a stop was requested; shown to nobody
};

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message, ErrorScope scope = ErrorScope::File,
                 std::string detail = {})
      : Error(ErrorKind::Other, message, scope, std::move(detail)) {}
  Error(ErrorKind kind, const std::string& message, ErrorScope scope = ErrorScope::File,
        std::string detail = {})
      : std::runtime_error(message), kind_(kind), scope_(scope), detail_(std::move(detail)) {}
  ErrorKind kind() const { return kind_; }
  ErrorScope scope() const { return scope_; }
  // The decoder's own explanation, where it gave one ("Not a JPEG file: starts with 0x68 0x65");
  // empty otherwise. what() stays the program's message, which users and scripts match.
  const std::string& detail() const { return detail_; }

 private:
  ErrorKind kind_;
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

// The error of a failed allocation, wherever it is found.
inline Error OutOfMemoryError() { return Error(ErrorKind::OutOfMemory, kOutOfMemory); }

// Whatever was thrown, as the error it stands for: an Error as it is, a failed allocation as
// "Out of memory", a silent abort (a stop) as an error of kind Stopped, another standard exception
// by its text, anything else as "Unknown error".
Error ErrorFromException(std::exception_ptr failure);

// The text shown to the user: a message whose last character comes after "." gets a full stop.
std::string WithFullStop(const std::string& message);

// The message with the decoder's explanation after it, where there is one, as one sentence:
// "JPEG error #53: Not a JPEG file: starts with 0x68 0x65.".
std::string ExplainedMessage(const Error& error);

}  // namespace swelox
