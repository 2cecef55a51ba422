#include "app/CommandLine.h"

#include <algorithm>

namespace swelox::ui {

std::string WindowHelpText() {
  return "Usage: swelox [QT-OPTION]...\n"
         "Measure the visual noise of photographs of the sea in a window: choose JPEG\n"
         "photos and get a tab-separated row of figures for each, to copy or save. For\n"
         "shells and scripts, swelox-cli gives the same rows without a window.\n"
         "\n"
         "      --help     display this help and exit\n"
         "      --version  output version information and exit\n"
         "\n"
         "Qt's own options, such as -platform NAME or -display DISPLAY, are accepted too.\n";
}

std::string WindowVersionText() { return std::string("swelox ") + SWELOX_VERSION + "\n"; }

bool HasDisplay(const std::vector<std::string>& arguments, const Environment& environment) {
  auto set = [&](const char* name) {
    const char* value = environment(name);
    return value != nullptr && value[0] != '\0';
  };
  const bool platformGiven =
      std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
        return argument == "-platform" || argument == "--platform" ||
               argument.rfind("-platform=", 0) == 0 || argument.rfind("--platform=", 0) == 0;
      });
  return platformGiven || set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Like every GNU tool, a failure to write the answer is an error.
static int Print(const std::string& text, std::FILE* out) {
  return std::fputs(text.c_str(), out) == EOF || std::fflush(out) != 0 ? 1 : 0;
}

std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& arguments,
                                       const Environment& environment, std::FILE* out,
                                       std::FILE* err) {
  // Only the options up to "--" are the program's.
  const auto end = std::find(arguments.begin(), arguments.end(), "--");
  if (std::find(arguments.begin(), end, "--help") != end) return Print(WindowHelpText(), out);
  if (std::find(arguments.begin(), end, "--version") != end) return Print(WindowVersionText(), out);
  if (!HasDisplay(arguments, environment)) {
    std::fputs(
        "swelox: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); "
        "swelox-cli analyses photos without one\n",
        err);
    return 1;
  }
  return std::nullopt;
}

}  // namespace swelox::ui
