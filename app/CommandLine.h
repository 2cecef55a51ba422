// What the program answers before it needs a display: --help, --version, and a clear refusal
// when there is no display to open the window on.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace swelox::ui {

std::string WindowHelpText();
std::string WindowVersionText();

// Reads an environment variable; null when it is not set.
using Environment = std::function<const char*(const char*)>;

// Whether Qt has a display to open a window on: a platform chosen on the command line or in
// QT_QPA_PLATFORM, or an X or Wayland display named in the environment.
bool HasDisplay(const std::vector<std::string>& arguments, const Environment& environment);

// The exit code when the command line is answered without the window (--help and --version on
// `out`, the lack of a display on `err`); nothing when the window is to open.
std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& arguments,
                                       const Environment& environment, std::FILE* out,
                                       std::FILE* err);

}  // namespace swelox::ui
