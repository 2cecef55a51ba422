// The command line of swelox-cli: GNU-style options (getopt_long) from one table, which also
// gives the help text, and so the manual page made from it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/BatchRun.h"
#include "analysis/Join.h"
#include "cli/FileLists.h"

namespace swelox::cli {

enum class Action { Run, ShowHelp, ShowVersion };

struct CommandLine {
  Action action = Action::Run;
  BatchOptions batch;  // files named on the command line only
  std::vector<FileList> lists;
  bool recursive = false;  // --recursive: a folder's subfolders are walked too
  std::string shard;       // --shard: K/N or slurm; empty: the whole list
  bool merge = false;      // --merge: the files are the parts of a job, joined into --output
  JoinSettings join;       // --join: the log; empty: no join, the files are measured
  std::string output;      // --output: the table that grows; empty: the rows go to standard output
  std::string watch;       // --watch: the folder whose photos are measured as they come
  bool newOnly = false;    // --new-only: not the photos already in it
  std::optional<bool> progress;  // --progress, --no-progress; unset: where it cannot mix with rows
};

// Raises UsageError; glibc has already written its own message for a malformed option.
CommandLine ParseCommandLine(int argc, char** argv);

std::string HelpText();
std::string VersionText();

}  // namespace swelox::cli
