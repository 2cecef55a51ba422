// The child process: fork and exec with its output in files, polled until it ends or its time is
// up.
#include "toolkit/CliRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "toolkit/TestImages.h"

extern char** environ;

namespace swelox::test {

namespace {

// The child: only calls that are safe between fork and exec in a process with threads.
[[noreturn]] void StartChild(const char* in, const char* out, const char* err, char** argv,
                             const std::vector<ResourceLimit>& limits) {
  // Only the copies reach the tool: a test of descriptor limits counts on it.
  const int files[3] = {::open(in, O_RDONLY | O_CLOEXEC),
                        ::open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600),
                        ::open(err, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)};
  for (int k = 0; k < 3; ++k) {
    if (files[k] < 0) ::_exit(127);
    if (files[k] == k ? ::fcntl(k, F_SETFD, 0) < 0 : ::dup2(files[k], k) < 0) ::_exit(127);
  }
  for (const ResourceLimit& limit : limits) {
    const struct rlimit value = {limit.value, limit.value};
    if (::setrlimit(limit.resource, &value) != 0) ::_exit(127);
  }
  ::execve(argv[0], argv, environ);
  ::_exit(127);
}

}  // namespace

CliResult RunCli(const std::vector<std::string>& arguments, double deadlineSeconds,
                 const std::optional<std::string>& input,
                 const std::optional<std::string>& outputPath,
                 const std::vector<ResourceLimit>& limits) {
  TempDir scratch;
  const std::string outPath = outputPath.value_or(scratch.File("out"));
  const std::string errPath = scratch.File("err");
  std::string inPath = "/dev/null";
  if (input) {
    inPath = scratch.File("in");
    WriteBytes(inPath, std::vector<uint8_t>(input->begin(), input->end()));
  }

  std::vector<std::string> texts = {SWELOX_CLI};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot start " + std::string(SWELOX_CLI));
  if (pid == 0) StartChild(inPath.c_str(), outPath.c_str(), errPath.c_str(), argv.data(), limits);

  CliResult result;
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!result.timedOut && elapsed.count() > deadlineSeconds) {
      ::kill(pid, SIGKILL);
      result.timedOut = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.peakRssKb = usage.ru_maxrss;
  const std::vector<uint8_t> out = outputPath ? std::vector<uint8_t>() : ReadBytes(outPath);
  const std::vector<uint8_t> err = ReadBytes(errPath);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace swelox::test
