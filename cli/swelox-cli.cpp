// swelox-cli: the window's results text for a list of JPEG files, from a shell.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/BatchRun.h"
#include "analysis/FileOrder.h"
#include "analysis/Join.h"
#include "analysis/OutputTable.h"
#include "analysis/PhotoFolders.h"
#include "analysis/RunPlan.h"
#include "analysis/Shard.h"
#include "analysis/TableMerge.h"
#include "analysis/Watch.h"
#include "cli/ConsoleListener.h"
#include "cli/FileLists.h"
#include "cli/Options.h"
#include "cli/StopSignals.h"
#include "cli/UsageError.h"
#include "core/PrintableText.h"

namespace {

using namespace swelox::cli;

// A message for the terminal: control bytes in the paths it quotes are escaped.
std::string Shown(const std::string& message) {
  return swelox::EscapeControlBytes(message, swelox::Backslash::AsItIs);
}

int ReportUsageError(const UsageError& error) {
  // An empty message: glibc has reported the malformed option already.
  if (!error.message.empty()) {
    std::fprintf(stderr, "swelox-cli: %s\n", Shown(error.message).c_str());
  }
  std::fputs("Try 'swelox-cli --help' for more information.\n", stderr);
  return 2;
}

// The help or version text; like every GNU tool, a failure to write it is an error.
int Print(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "swelox-cli: write error: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

// Each folder named becomes its photos; what it held besides is counted in one line.
void ExpandFolders(CommandLine& line) {
  swelox::FolderTally tally;
  const bool named = !line.batch.files.empty();
  try {
    swelox::ExpandFolders(line.batch.files, line.recursive, tally);
  } catch (const swelox::Error& error) {
    throw UsageError{error.what()};
  }
  const std::string tallied = swelox::TallyLine(tally);
  if (!tallied.empty()) std::fprintf(stderr, "swelox-cli: %s\n", Shown(tallied).c_str());
  if (named && line.batch.files.empty()) throw UsageError{"no photos in the folders given"};
}

// --shard: the part's slice of the whole list in the order the runs take it, which the part's
// table records with the list's length and fingerprint.
swelox::PartOfList TakeShard(CommandLine& line) {
  swelox::Shard shard;
  try {
    shard = swelox::ParseShard(line.shard);
  } catch (const swelox::Error& error) {
    throw UsageError{error.what()};
  }
  swelox::PathList& files = line.batch.files;
  files = swelox::OrderFiles(files, line.batch.settings.order, {},
                             swelox::CameraClock(line.batch.settings.time));
  const swelox::PartOfList part{shard.part, shard.partOf, static_cast<int64_t>(files.size()),
                                swelox::ListFingerprint(files)};
  const swelox::Slice slice = swelox::ShardSlice(files.size(), shard);
  swelox::PathList sliced;
  for (size_t i = slice.begin; i < slice.end; ++i) sliced.push_back(files.view(i));
  files = std::move(sliced);
  return part;
}

// --merge: the files are the parts' tables; nothing is measured.
int Merge(const CommandLine& line) {
  try {
    std::vector<std::string> parts(line.batch.files.begin(), line.batch.files.end());
    swelox::MergeParts(parts, line.output);
  } catch (const swelox::Error& error) {
    std::fprintf(stderr, "swelox-cli: %s\n", Shown(swelox::WithFullStop(error.what())).c_str());
    return 1;
  }
  return 0;
}

// --join: the log with the figures of the tables' photos, on standard output.
int Join(CommandLine& line) {
  line.join.zone = line.batch.settings.time.zone;
  std::vector<std::string> problems;
  std::string joined;
  try {
    const std::vector<std::string> tables(line.batch.files.begin(), line.batch.files.end());
    joined = swelox::JoinTables(line.join, tables, problems);
  } catch (const swelox::Error& error) {
    std::fprintf(stderr, "swelox-cli: %s\n", Shown(swelox::WithFullStop(error.what())).c_str());
    return 1;
  }
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "swelox-cli: %s\n", Shown(problem).c_str());
  }
  if (std::fwrite(joined.data(), 1, joined.size(), stdout) != joined.size() ||
      std::fflush(stdout) != 0) {
    std::fprintf(stderr, "swelox-cli: cannot write the results: %s.\n", std::strerror(errno));
    return 1;
  }
  return problems.empty() ? 0 : 1;
}

int Run(int argc, char** argv) {
  CommandLine line;
  swelox::PartOfList part;
  try {
    line = ParseCommandLine(argc, argv);
    if (line.action == Action::ShowHelp) return Print(HelpText());
    if (line.action == Action::ShowVersion) return Print(VersionText());
    for (const FileList& list : line.lists) ReadFileList(list, line.batch.files);
    if (!line.join.log.empty()) {
      if (line.join.timeColumn.empty() ==
          (line.join.startColumn.empty() || line.join.endColumn.empty())) {
        throw UsageError{"--join needs --time-column, or --start-column and --end-column"};
      }
      if (line.batch.files.empty()) throw UsageError{"--join needs the tables to join"};
      return Join(line);
    }
    if (line.merge) {
      if (line.output.empty())
        throw UsageError{"--merge needs --output FILE for the table it makes"};
      if (!line.shard.empty()) throw UsageError{"--merge joins parts; it takes no --shard"};
      if (line.batch.files.empty()) throw UsageError{"--merge needs the tables of the parts"};
      return Merge(line);
    }
    ExpandFolders(line);
    if (line.batch.files.empty() && line.watch.empty()) throw UsageError{"no files given"};
    if (!line.shard.empty()) part = TakeShard(line);
  } catch (const UsageError& error) {
    return ReportUsageError(error);
  }
  // The table is the header alone, as in the window; a script's user is told why.
  if (swelox::RunCount(line.batch.settings) == 0) {
    std::fputs("swelox-cli: --repeats is below 0, so no run is made.\n", stderr);
  }

  std::stop_source stop;
  const StopSignals signals(stop);
  ConsoleListener listener(line.progress.value_or(CaptionCannotMix(STDOUT_FILENO, STDERR_FILENO)),
                           stop);
  line.batch.stop = stop.get_token();
  // Before the table, which a folder that cannot be watched leaves untouched.
  std::optional<swelox::FolderWatch> watch;
  if (!line.watch.empty()) {
    try {
      watch.emplace(line.watch, line.newOnly);
    } catch (const swelox::Error& error) {
      std::fprintf(stderr, "swelox-cli: %s\n", Shown(swelox::WithFullStop(error.what())).c_str());
      return 1;
    }
  }
  // After StopSignals: the table's thread must not take the signals.
  std::optional<swelox::OutputTable> table;
  if (!line.output.empty()) {
    try {
      table.emplace(line.output, line.batch, part, SWELOX_VERSION, listener, stop);
    } catch (const swelox::Error& error) {
      std::fprintf(stderr, "swelox-cli: %s\n", Shown(swelox::WithFullStop(error.what())).c_str());
      return 1;
    }
  }
  swelox::BatchResult result;
  if (watch) {
    swelox::BatchListener& rows = table ? static_cast<swelox::BatchListener&>(*table) : listener;
    result = swelox::RunWatch(
        *watch, line.batch, rows, table ? &*table : nullptr,
        [&](const std::string& notice) { listener.Note("swelox-cli: " + Shown(notice)); });
  } else {
    result = table ? swelox::RunBatch(table->Remaining(), *table)
                   : swelox::RunBatch(line.batch, listener);
  }
  listener.Finish();
  if (table) {
    try {
      table->Finish(result);
    } catch (const swelox::Error& error) {
      std::fprintf(stderr, "swelox-cli: %s\n", Shown(swelox::WithFullStop(error.what())).c_str());
      return 1;
    }
  }
  signals.ResendReceived();
  const int writeError = table ? table->writeError() : listener.writeError();
  if (writeError != 0) {
    std::fprintf(stderr, "swelox-cli: cannot write the results: %s.\n", std::strerror(writeError));
    return 1;
  }
  if (result.fatal) {
    const std::string message =
        result.fatalFile.empty() ? "swelox-cli: " + Shown(swelox::ExplainedMessage(*result.fatal))
                                 : FileMessage(result.fatalFile, *result.fatal);
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  return result.anyFileFailed ? 1 : 0;
}

// Whatever reached main, as one message; noexcept, since even the message may not fit in memory.
int ReportUnexpected(std::exception_ptr failure) noexcept {
  try {
    const std::string message = swelox::ErrorFromException(failure).what();
    std::fprintf(stderr, "swelox-cli: %s\n", Shown(swelox::WithFullStop(message)).c_str());
  } catch (...) {
    std::fputs("swelox-cli: Out of memory.\n", stderr);
  }
  return 1;
}

}  // namespace

// No exception ends the tool with an abort: a file list's is a usage error (status 2), any other
// one message and status 1.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& error) {
    return ReportUsageError(error);
  } catch (...) {
    return ReportUnexpected(std::current_exception());
  }
}
