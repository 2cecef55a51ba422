// Where a batch run meets the terminal: rows on standard output, messages and the progress
// caption on standard error.
#pragma once

#include <stop_token>
#include <string>

#include "analysis/BatchRun.h"
#include "cli/RowOutput.h"

namespace swelox::cli {

class ConsoleListener : public BatchListener {
 public:
  // The caption is drawn only when `showProgress`. A row that cannot be written requests `stop`;
  // one that waits for a blocked reader gives way to a stop request.
  ConsoleListener(bool showProgress, std::stop_source stop);
  ~ConsoleListener() override;

  void Line(const std::string& line) override;
  void Progress(const std::string& caption) override;
  void FileFailed(const std::string& path, const Error& error) override;
  void FileWarned(const std::string& path, const std::string& warning) override;

  // A line of its own on standard error (the caption kept below it).
  void Note(const std::string& line) { Message(line); }

  // Removes the caption for good, at the end of the runs.
  void Finish();

  // The errno of the failed write, 0 while every row has been written.
  int writeError() const { return writeError_; }

 private:
  void Message(const std::string& line);
  void HideCaption();
  void ShowCaption();

  const bool showProgress_;
  std::string caption_;
  bool captionShown_ = false;
  std::stop_source stop_;
  RowOutput rows_;      // standard output
  RowOutput messages_;  // standard error: a stopped terminal holds up a stop no more than rows do
  bool writeFailed_ = false;
  int writeError_ = 0;
};

// Whether the caption is drawn when no option chose: only where it cannot mix with the rows, with
// `messages` a terminal and `rows` a terminal, a regular file or /dev/null. A pipe's reader may
// put the rows on the same screen at any moment, between the caption's drawing and its removal.
bool CaptionCannotMix(int rows, int messages);

// "swelox-cli: NAME: MESSAGE", one line whatever the name holds.
std::string FileMessage(const std::string& path, const std::string& message);
// The same with the error's message and its explanation.
std::string FileMessage(const std::string& path, const Error& error);

}  // namespace swelox::cli
