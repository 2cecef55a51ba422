#include "cli/ConsoleListener.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "core/PrintableText.h"

namespace swelox::cli {

ConsoleListener::ConsoleListener(bool showProgress, std::stop_source stop)
    : showProgress_(showProgress),
      stop_(std::move(stop)),
      rows_(STDOUT_FILENO),
      messages_(STDERR_FILENO) {}

ConsoleListener::~ConsoleListener() { Finish(); }

// On a terminal the caption shares the screen with the rows: it is taken away before a row or a
// message is written and drawn again after it, so that the rows read exactly as in a file.
// A row goes out whole in one write where it can; one that cannot be written ends the runs.
void ConsoleListener::Line(const std::string& line) {
  if (writeFailed_) return;
  HideCaption();
  if (!rows_.Write(line + "\n", stop_.get_token())) {
    writeError_ = rows_.error();
    writeFailed_ = true;
    stop_.request_stop();
    return;
  }
  ShowCaption();
}

void ConsoleListener::Progress(const std::string& caption) {
  if (!showProgress_) return;
  caption_ = caption;
  ShowCaption();
}

void ConsoleListener::FileFailed(const std::string& path, const Error& error) {
  Message(FileMessage(path, error));
}

void ConsoleListener::FileWarned(const std::string& path, const std::string& warning) {
  Message(FileMessage(path, "warning: " + WithFullStop(warning)));
}

void ConsoleListener::Message(const std::string& line) {
  HideCaption();
  messages_.Write(line + "\n", stop_.get_token());
  ShowCaption();
}

bool CaptionCannotMix(int rows, int messages) {
  if (::isatty(messages) != 1) return false;
  if (::isatty(rows) == 1) return true;
  struct stat output {};
  if (::fstat(rows, &output) != 0) return false;
  if (S_ISREG(output.st_mode)) return true;
  struct stat null {};
  return S_ISCHR(output.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
         output.st_rdev == null.st_rdev;
}

std::string FileMessage(const std::string& path, const std::string& message) {
  // Control bytes of the path (also inside the message) could drive the terminal.
  return "swelox-cli: " + EscapeControlBytes(path, Backslash::AsItIs) + ": " +
         EscapeControlBytes(message, Backslash::AsItIs);
}

std::string FileMessage(const std::string& path, const Error& error) {
  return FileMessage(path, ExplainedMessage(error));
}

void ConsoleListener::Finish() {
  HideCaption();
  caption_.clear();
}

void ConsoleListener::HideCaption() {
  if (!captionShown_) return;
  messages_.Write("\r\033[K", stop_.get_token());
  captionShown_ = false;
}

void ConsoleListener::ShowCaption() {
  if (caption_.empty()) return;
  messages_.Write("\r" + caption_ + "\033[K", stop_.get_token());
  captionShown_ = true;
}

}  // namespace swelox::cli
