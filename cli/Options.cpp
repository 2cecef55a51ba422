#include "cli/Options.h"

#include <getopt.h>

#include <functional>
#include <thread>

#include "analysis/CameraClock.h"
#include "analysis/RectangleStatistics.h"
#include "analysis/SettingsTable.h"
#include "cli/UsageError.h"
#include "core/IntegerText.h"

namespace swelox::cli {
namespace {

constexpr const char* kProgram = "swelox-cli";

int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

int ParseJobs(const std::string& text) {
  int jobs = 0;
  try {
    jobs = ParseInteger(text);
  } catch (const Error&) {
    throw UsageError{"--jobs needs a whole number, not '" + text + "'"};
  }
  if (jobs < 1 || jobs > 256) {
    throw UsageError{"--jobs must be between 1 and 256, not '" + text + "'"};
  }
  return jobs;
}

// The value an option's text stands for; a text that stands for none is a usage error that
// names the option. The engine's messages (a number's) are sentences, shown with their full stop.
enum class Message { AsItIs, Sentence };

template <typename Read>
auto Checked(const char* option, Read read, Message message = Message::AsItIs) {
  try {
    return read();
  } catch (const Error& e) {
    throw UsageError{std::string(option) + ": " +
                     (message == Message::Sentence ? WithFullStop(e.what()) : e.what())};
  }
}

// The numbers typed as options are read by the run's own rules before any work, so that a
// text that is no number, or a side below 0, is a usage error naming its option. What only a
// later run computes (an area or a grown size past 32 bits) stays that run's error.
void CheckNumbers(const RunSettings& settings) {
  for (const SettingRow& row : SettingsTable()) {
    if (row.kind != SettingText::Side && row.kind != SettingText::Integer) continue;
    const std::string option = std::string("--") + row.option;
    const int32_t number = Checked(
        option.c_str(), [&] { return ParseInteger(row.text(settings)); }, Message::Sentence);
    if (row.kind != SettingText::Side) continue;
    Checked(
        option.c_str(), [&] { CheckSide(row.name, number); }, Message::Sentence);
  }
}

std::string Default(const std::string& text) { return " (default " + text + ")"; }

struct OptionEntry {
  const char* name;
  char shortName;         // '\0' when there is none
  const char* valueName;  // nullptr when the option takes no value
  std::string help;
  std::function<void(CommandLine&, const std::string& value)> apply;
};

// A setting's option: its help with the default of a number, and its text read by the setting's
// own rule (a flag stands for the setting's flag text).
OptionEntry SettingOption(const SettingRow& row) {
  std::string help = row.help;
  if (row.kind == SettingText::Side || row.kind == SettingText::Integer) {
    help += Default(DefaultText(row));
  }
  return {row.option, 0, row.valueName, help, [&row](CommandLine& c, const std::string& v) {
            const std::string option = std::string("--") + row.option;
            Checked(option.c_str(), [&] {
              row.set(c.batch.settings, row.valueName != nullptr ? v : row.flagText);
              return 0;
            });
          }};
}

// The settings' options first, then swelox-cli's own, in the order of the help text.
std::vector<OptionEntry> AllOptions() {
  std::vector<OptionEntry> options;
  for (const SettingRow& row : SettingsTable()) options.push_back(SettingOption(row));
  std::vector<OptionEntry> own = {
      {"join", 0, "LOG",
       "join the TABLEs given instead of FILEs to the sightings or segments of LOG",
       [](CommandLine& c, const std::string& v) {
         if (v.empty()) throw UsageError{"--join needs a file name"};
         c.join.log = v;
       }},
      {"time-column", 0, "NAME", "--join: the column of the sightings' times",
       [](CommandLine& c, const std::string& v) { c.join.timeColumn = v; }},
      {"start-column", 0, "NAME", "--join: the column of the segments' start times",
       [](CommandLine& c, const std::string& v) { c.join.startColumn = v; }},
      {"end-column", 0, "NAME", "--join: the column of the segments' end times",
       [](CommandLine& c, const std::string& v) { c.join.endColumn = v; }},
      {"match", 0, "HOW", "--join: the nearest photo, or the last at or before (nearest, before)",
       [](CommandLine& c, const std::string& v) {
         if (v != "nearest" && v != "before") {
           throw UsageError{"--match is nearest or before, not '" + v + "'"};
         }
         c.join.before = v == "before";
       }},
      {"tolerance", 0, "H:M:S", "--join: the most a photo may be away (default 00:05:00)",
       [](CommandLine& c, const std::string& v) {
         const int64_t seconds = Checked("--tolerance", [&] { return ParseClockShift(v); });
         if (seconds < 0 || v.front() == '-') throw UsageError{"--tolerance cannot be negative"};
         c.join.toleranceSeconds = seconds;
       }},
      {"size", 0, "WxH", "--join: the rectangle size whose rows are joined (Bwide x Bhigh)",
       [](CommandLine& c, const std::string& v) {
         const size_t x = v.find('x');
         if (x == std::string::npos) throw UsageError{"--size is WxH, not '" + v + "'"};
         Checked("--size", [&] {
           c.join.width = FormatInteger(ParseInteger(v.substr(0, x)));
           c.join.height = FormatInteger(ParseInteger(v.substr(x + 1)));
           return 0;
         });
       }},
      {"output", 'o', "FILE", "append to the table FILE (.csv: CSV), skipping the photos it holds",
       [](CommandLine& c, const std::string& v) {
         if (v.empty()) throw UsageError{"--output needs a file name"};
         c.output = v;
       }},
      {"watch", 0, "FOLDER", "measure FOLDER's photos, then each new one",
       [](CommandLine& c, const std::string& v) {
         if (v.empty()) throw UsageError{"--watch needs a folder"};
         c.watch = v;
       }},
      {"new-only", 0, nullptr, "with --watch: only the photos that come later",
       [](CommandLine& c, const std::string&) { c.newOnly = true; }},
      {"shard", 0, "K/N", "take part K of N of the ordered list ('slurm': the job array task's)",
       [](CommandLine& c, const std::string& v) { c.shard = v; }},
      {"merge", 0, nullptr, "join the tables FILE... of a job's parts into the --output table",
       [](CommandLine& c, const std::string&) { c.merge = true; }},
      {"keep-going", 'k', nullptr, "report a failing file and go on with the others",
       [](CommandLine& c, const std::string&) { c.batch.keepGoing = true; }},
      {"jobs", 'j', "N", "files analysed at once (default: number of cores)",
       [](CommandLine& c, const std::string& v) { c.batch.jobs = ParseJobs(v); }},
      {"progress", 0, nullptr,
       "show the progress caption on standard error (default: only if standard error is a "
       "terminal and standard output a terminal, a file or /dev/null)",
       [](CommandLine& c, const std::string&) { c.progress = true; }},
      {"no-progress", 0, nullptr, "never show the progress caption",
       [](CommandLine& c, const std::string&) { c.progress = false; }},
      {"recursive", 'r', nullptr, "take the photos of a FILE that is a folder's subfolders too",
       [](CommandLine& c, const std::string&) { c.recursive = true; }},
      {"files-from", 0, "FILE", "read names from FILE, one a line ('-': stdin)",
       [](CommandLine& c, const std::string& v) {
         c.lists.push_back({v, ListSeparator::LineFeed});
       }},
      {"files0-from", 0, "FILE", "read names from FILE, each ended by a NUL byte",
       [](CommandLine& c, const std::string& v) {
         c.lists.push_back({v, ListSeparator::Nul});
       }},
      {"help", 'h', nullptr, "display this help and exit",
       [](CommandLine& c, const std::string&) { c.action = Action::ShowHelp; }},
      {"version", 0, nullptr, "output version information and exit",
       [](CommandLine& c, const std::string&) { c.action = Action::ShowVersion; }},
  };
  options.insert(options.end(), own.begin(), own.end());
  return options;
}

const std::vector<OptionEntry>& Options() {
  static const std::vector<OptionEntry> options = AllOptions();
  return options;
}

// Options without a short form are told apart by codes beyond every character.
constexpr int kLongOnlyCode = 256;

int CodeOf(size_t index) {
  const OptionEntry& entry = Options()[index];
  return entry.shortName != 0 ? entry.shortName : kLongOnlyCode + static_cast<int>(index);
}

// The help text fits a terminal of 80 columns: an option's help goes on over as many lines as it
// needs, each indented to the column of help.
constexpr size_t kHelpWidth = 80;
constexpr size_t kHelpColumn = 28;

std::string OptionHelp(const OptionEntry& entry) {
  std::string line = entry.shortName != 0 ? std::string("  -") + entry.shortName + ", " : "      ";
  line += std::string("--") + entry.name;
  if (entry.valueName != nullptr) line += std::string("=") + entry.valueName;
  line.resize(std::max(kHelpColumn, line.size() + 2), ' ');
  std::string text;
  bool lineHasWord = false;
  size_t start = 0;
  while (start < entry.help.size()) {
    size_t end = entry.help.find(' ', start);
    if (end == std::string::npos) end = entry.help.size();
    const std::string word = entry.help.substr(start, end - start);
    start = end + 1;
    if (lineHasWord && line.size() + 1 + word.size() > kHelpWidth) {
      text += line + "\n";
      line.assign(kHelpColumn, ' ');
      lineHasWord = false;
    }
    line += (lineHasWord ? " " : "") + word;
    lineHasWord = true;
  }
  return text + line + "\n";
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  std::vector<option> longOptions;
  std::string shortOptions;
  for (size_t i = 0; i < Options().size(); ++i) {
    const OptionEntry& entry = Options()[i];
    const int argument = entry.valueName != nullptr ? required_argument : no_argument;
    longOptions.push_back({entry.name, argument, nullptr, CodeOf(i)});
    if (entry.shortName != 0) {
      shortOptions += entry.shortName;
      if (argument == required_argument) shortOptions += ':';
    }
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});

  // glibc names the program by argv[0] in its messages; it also reorders the arguments.
  std::vector<char*> arguments(argv, argv + argc);
  std::string program = kProgram;
  arguments[0] = program.data();

  CommandLine line;
  line.batch.jobs = DefaultJobs();
  optind = 0;  // a fresh scan
  for (;;) {
    const int code =
        getopt_long(argc, arguments.data(), shortOptions.c_str(), longOptions.data(), nullptr);
    if (code == -1) break;
    if (code == '?' || code == ':') throw UsageError{};
    for (size_t i = 0; i < Options().size(); ++i) {
      if (CodeOf(i) != code) continue;
      Options()[i].apply(line, optarg != nullptr ? optarg : "");
      if (line.action != Action::Run) return line;
    }
  }
  CheckNumbers(line.batch.settings);
  line.batch.files.assign(arguments.begin() + optind, arguments.begin() + argc);
  if (!line.watch.empty() && (!line.batch.files.empty() || !line.lists.empty())) {
    throw UsageError{"--watch takes the photos of its folder, not FILE arguments or lists"};
  }
  if (line.newOnly && line.watch.empty()) throw UsageError{"--new-only needs --watch"};
  if (!line.watch.empty() && (!line.shard.empty() || line.merge)) {
    throw UsageError{"--watch takes no --shard or --merge"};
  }
  return line;
}

std::string HelpText() {
  std::string text = std::string("Usage: ") + kProgram + R"( [OPTION]... FILE...
Measure the visual noise of JPEG photographs of the sea: each picture is divided
into a lattice of rectangles, and each rectangle's summed brightness is compared
with its neighbour's. Prints a tab-separated header line and one row per file
and run. A FILE that is a folder stands for the JPEG photos in it, in natural
order (IMG_9 before IMG_10).

)";
  for (const OptionEntry& entry : Options()) text += OptionHelp(entry);
  text += R"(
Numbers are whole numbers in decimal, or hexadecimal after $, x or 0x.
Mandatory arguments to long options are mandatory for short options too.

Exit status:
 0  every file was analysed,
 1  an error ended the runs, (with --keep-going) a file failed, or the results
    could not be written,
 2  a usage error.
)";
  return text;
}

std::string VersionText() { return std::string(kProgram) + " " + SWELOX_VERSION + "\n"; }

}  // namespace swelox::cli
