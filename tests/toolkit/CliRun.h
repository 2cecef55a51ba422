// Runs swelox-cli as a child process with exact arguments (no shell), a deadline, resource limits
// and a measure of its peak memory, for tests that treat the tool as a user would.
#pragma once

#include <sys/resource.h>

#include <optional>
#include <string>
#include <vector>

#include "analysis/ImageAnalysis.h"

namespace swelox::test {

// What swelox-cli prints first on standard output, and the hint after a usage error.
inline const std::string kHeader = std::string(kHeaderLine) + "\n";
inline const std::string kTryHelp = "Try 'swelox-cli --help' for more information.\n";

// Sanitizers reserve terabytes of address space and inflate every allocation: address-space
// limits and memory figures mean nothing under them.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

struct CliResult {
  int exitCode = -1;      // -1 when it did not exit normally
  int signal = 0;         // the signal that ended it, if any
  bool timedOut = false;  // killed at the deadline
  std::string out;
  std::string err;
  long peakRssKb = 0;
  double seconds = 0;
};

// A limit set in the child before it starts the tool (setrlimit's resource and soft = hard value).
struct ResourceLimit {
  int resource;
  rlim_t value;
};

// `arguments` exclude the program name. Standard input is `input` when given, else /dev/null;
// standard output goes to `outputPath` when given (`out` then stays empty).
CliResult RunCli(const std::vector<std::string>& arguments, double deadlineSeconds = 60,
                 const std::optional<std::string>& input = std::nullopt,
                 const std::optional<std::string>& outputPath = std::nullopt,
                 const std::vector<ResourceLimit>& limits = {});

// The lines of a text, without their "\n".
std::vector<std::string> Lines(const std::string& text);

}  // namespace swelox::test
