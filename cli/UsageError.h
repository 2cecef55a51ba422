// A command line the tool cannot act on: reported with a hint to --help and exit status 2.
#pragma once

#include <string>

namespace swelox::cli {

struct UsageError {
  std::string message;
};

}  // namespace swelox::cli
