// The full-stop rule for messages shown to the user, and what a caught exception stands for.
#include "core/Errors.h"

#include <new>

namespace swelox {

std::string WithFullStop(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string ExplainedMessage(const Error& error) {
  const std::string message = error.what();
  return WithFullStop(error.detail().empty() ? message : message + ": " + error.detail());
}

Error ErrorFromException(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return OutOfMemoryError();
  } catch (const SilentAbort& e) {
    return Error(ErrorKind::Stopped, e.what());
  } catch (const std::exception& e) {
    return Error(e.what());
  } catch (...) {
    return Error("Unknown error");
  }
}

}  // namespace swelox
