// The full-stop rule for messages shown to the user.
#include "core/Errors.h"

namespace swelox {

std::string WithFullStop(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace swelox
