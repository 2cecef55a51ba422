// swelox-cli: the window's results text for a list of JPEG files, from a shell.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/BatchRun.h"
#include "analysis/Region.h"
#include "core/IntegerText.h"

namespace {

constexpr const char* kProgram = "swelox-cli";

constexpr const char* kHelp = R"(Usage: swelox-cli [OPTION]... FILE...
Measure the visual noise of JPEG photographs of the sea: each picture is divided into a lattice
of rectangles, and each rectangle's summed brightness is compared with its neighbour's.
Prints a tab-separated header line and one row per file and run.

  --width N               rectangle width (default 15)
  --height N              rectangle height (default 12)
  --repeats N             extra runs with larger rectangles (default 0)
  --width-increment P     percent added to the width after each run (default 100)
  --height-increment P    percent added to the height after each run (default 100)
  --right                 compare with the rectangle to the right (default: the one below)
  --region WxH+X+Y        analyse only W x H pixels from X pixels left and Y down (default: all)
  -k, --keep-going        report a failing file and go on with the others
  -j, --jobs N            files analysed at once (default: the number of cores)
  --files-from FILE       read further paths from FILE, one per line ('-': standard input)
  -h, --help              show this help and exit
      --version           show the version and exit

Numbers are whole numbers in decimal, or hexadecimal after $, x or 0x.
Exit status: 0 when every file was analysed, 1 when an error ended the runs or (with
--keep-going) a file failed, 2 for a usage error.
)";

struct UsageError {
  std::string message;
};

// Progress on standard error, on one line that is overwritten, when it is a terminal.
class ConsoleListener : public swelox::BatchListener {
 public:
  ConsoleListener() : showProgress_(::isatty(STDERR_FILENO) == 1) {}
  ~ConsoleListener() override { ClearProgress(); }

  // A row that cannot be written (a full disk, a closed pipe) is remembered, so that the run
  // does not end as if every row had been delivered.
  void Line(const std::string& line) override {
    if (writeError_ != 0) return;
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
        std::fputc('\n', stdout) == EOF || std::fflush(stdout) != 0) {
      writeError_ = errno != 0 ? errno : EIO;
    }
  }
  int writeError() const { return writeError_; }
  void Progress(const std::string& caption) override {
    if (!showProgress_) return;
    std::fprintf(stderr, "\r%s\033[K", caption.c_str());
    progressShown_ = true;
  }
  void FileFailed(const std::string& path, const swelox::Error& error) override {
    ClearProgress();
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(),
                 swelox::WithFullStop(error.what()).c_str());
  }
  void ClearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
  }

 private:
  bool showProgress_;
  bool progressShown_ = false;
  int writeError_ = 0;
};

void ReadFileList(const std::string& source, std::vector<std::string>& files) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (source != "-") {
    file.open(source);
    if (!file) throw UsageError{"cannot read the file list '" + source + "'"};
    in = &file;
  }
  for (std::string line; std::getline(*in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) files.push_back(line);
  }
}

int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

swelox::BatchOptions ParseArguments(int argc, char** argv, bool& exitNow) {
  swelox::BatchOptions options;
  options.jobs = DefaultJobs();
  std::vector<std::string> lists;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
      options.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    std::string name = arg, value;
    bool hasValue = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    auto take = [&]() -> std::string {
      if (hasValue) return value;
      if (i + 1 >= argc) throw UsageError{"option '" + name + "' needs a value"};
      return argv[++i];
    };
    auto noValue = [&] {
      if (hasValue) throw UsageError{"option '" + name + "' takes no value"};
    };
    if (name == "--width") {
      options.settings.width = take();
    } else if (name == "--height") {
      options.settings.height = take();
    } else if (name == "--repeats") {
      options.settings.loops = take();
    } else if (name == "--width-increment") {
      options.settings.widthIncrement = take();
    } else if (name == "--height-increment") {
      options.settings.heightIncrement = take();
    } else if (name == "--region") {
      try {
        options.settings.region = swelox::ParseRegion(take());
      } catch (const swelox::Error& e) {
        throw UsageError{e.what()};
      }
    } else if (name == "--right") {
      noValue();
      options.settings.direction = swelox::Direction::Right;
    } else if (name == "-k" || name == "--keep-going") {
      noValue();
      options.keepGoing = true;
    } else if (name == "-j" || name == "--jobs") {
      const std::string jobs = take();
      try {
        options.jobs = swelox::ParseInteger(jobs);
      } catch (const swelox::Error&) {
        throw UsageError{"--jobs needs a whole number, not '" + jobs + "'"};
      }
      if (options.jobs < 1 || options.jobs > 256) {
        throw UsageError{"--jobs must be between 1 and 256, not '" + jobs + "'"};
      }
    } else if (name == "--files-from") {
      lists.push_back(take());
    } else if (name == "-h" || name == "--help") {
      std::fputs(kHelp, stdout);
      exitNow = true;
      return options;
    } else if (name == "--version") {
      std::puts("swelox-cli 1.0");
      exitNow = true;
      return options;
    } else {
      throw UsageError{"unknown option '" + arg + "'"};
    }
  }
  for (const std::string& list : lists) ReadFileList(list, options.files);
  if (options.files.empty()) throw UsageError{"no files given"};
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  swelox::BatchOptions options;
  try {
    bool exitNow = false;
    options = ParseArguments(argc, argv, exitNow);
    if (exitNow) return 0;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                 e.message.c_str(), kProgram);
    return 2;
  }

  ConsoleListener listener;
  const swelox::BatchResult result = swelox::RunBatch(options, listener);
  listener.ClearProgress();
  int status = result.anyFileFailed ? 1 : 0;
  if (result.fatal) {
    std::fprintf(stderr, "%s: %s\n", kProgram, swelox::WithFullStop(result.fatal->what()).c_str());
    status = 1;
  }
  if (listener.writeError() != 0) {
    std::fprintf(stderr, "%s: cannot write the results: %s.\n", kProgram,
                 std::strerror(listener.writeError()));
    status = 1;
  }
  return status;
}
