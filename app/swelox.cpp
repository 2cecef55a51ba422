// Swelox: measures the visual noise of photographs of the sea.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Main.h"
#include "app/Startup.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const auto answered = swelox::ui::AnswerWithoutWindow(
          arguments, [](const char* name) { return std::getenv(name); }, stdout, stderr)) {
    return *answered;
  }
  std::optional<swelox::ui::StartupMessages> starting(std::in_place);
  swelox::ui::Application application(argc, argv);
  starting.reset();
  TF window;
  window.show();
  return application.exec();
}
