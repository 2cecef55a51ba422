// Outcomes encoded one after the other: a kind byte, the row, the warning, the row's values, and
// for an error its scope, message and detail, each text as its length and its bytes.
#include "analysis/LaterRows.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace swelox {
namespace {

void AppendText(std::string& out, std::string_view text) {
  const uint64_t size = text.size();
  out.append(reinterpret_cast<const char*>(&size), sizeof size);
  out.append(text);
}

std::string ReadText(const std::string& in, size_t& at) {
  uint64_t size;
  std::memcpy(&size, in.data() + at, sizeof size);
  at += sizeof size;
  std::string text = in.substr(at, size);
  at += size;
  return text;
}

template <typename T>
void AppendNumber(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T ReadNumber(const std::string& in, size_t& at) {
  T value;
  std::memcpy(&value, in.data() + at, sizeof value);
  at += sizeof value;
  return value;
}

// Every field of RowOutcome, so that a row or an error comes back exactly as it went in.
static_assert(sizeof(RowOutcome) ==
                  2 * sizeof(std::string) + sizeof(std::optional<Error>) + sizeof(RowValues),
              "a field added to RowOutcome must be written and read here too");
static_assert(sizeof(RowValues) == 2 * sizeof(int64_t) + 2 * sizeof(int32_t) +
                                       sizeof(NoiseFigures) + 4 + sizeof(std::string) +
                                       sizeof(Quality) + 4,
              "a field added to RowValues must be written and read here too");
void AppendValues(std::string& out, const RowValues& v) {
  AppendNumber(out, v.width);
  AppendNumber(out, v.height);
  for (const int32_t n :
       {v.rectangleWidth, v.rectangleHeight, v.figures.meanDiff, v.figures.rms, v.figures.nDiffs}) {
    AppendNumber(out, n);
  }
  AppendText(out, v.captureTime);
  out += static_cast<char>(v.quality);
}

RowValues ReadValues(const std::string& in, size_t& at) {
  RowValues v;
  v.width = ReadNumber<int64_t>(in, at);
  v.height = ReadNumber<int64_t>(in, at);
  for (int32_t* n : {&v.rectangleWidth, &v.rectangleHeight, &v.figures.meanDiff, &v.figures.rms,
                     &v.figures.nDiffs}) {
    *n = ReadNumber<int32_t>(in, at);
  }
  v.captureTime = ReadText(in, at);
  v.quality = static_cast<Quality>(in[at++]);
  return v;
}

void Append(std::string& out, const RowOutcome& outcome) {
  out += outcome.error ? 'E' : 'R';
  AppendText(out, outcome.row);
  AppendText(out, outcome.warning);
  AppendValues(out, outcome.values);
  if (outcome.error) {
    out += static_cast<char>(outcome.error->scope());
    AppendText(out, outcome.error->what());
    AppendText(out, outcome.error->detail());
  }
}

RowOutcome Read(const std::string& in, size_t& at) {
  RowOutcome outcome;
  const bool failed = in[at++] == 'E';
  outcome.row = ReadText(in, at);
  outcome.warning = ReadText(in, at);
  outcome.values = ReadValues(in, at);
  if (failed) {
    const auto scope = static_cast<ErrorScope>(in[at++]);
    std::string message = ReadText(in, at);
    std::string detail = ReadText(in, at);
    outcome.error.emplace(message, scope, std::move(detail));
  }
  return outcome;
}

// A file in $TMPDIR (or /tmp) that no other process can open: it has no name from the start where
// the file system allows it, and loses its name at once elsewhere.
int OpenUnnamedFile() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = std::string(folder) + "/swelox-rows-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool WriteAll(int fd, const std::string& bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

LaterRows::LaterRows(size_t runs, size_t memoryBytes) : memoryBytes_(memoryBytes), runs_(runs) {}

LaterRows::~LaterRows() {
  if (fd_ >= 0) ::close(fd_);
}

void LaterRows::Put(size_t run, const RowOutcome& outcome) {
  Run& r = runs_.at(run);
  if (r.chunks.empty() || r.chunks.back().inFile) r.chunks.emplace_back();
  std::string& bytes = r.chunks.back().bytes;
  const size_t before = bytes.size();
  Append(bytes, outcome);
  inMemory_ += bytes.size() - before;
  if (inMemory_ > memoryBytes_) Spill();
}

RowOutcome LaterRows::Take(size_t run) {
  Run& r = runs_.at(run);
  Chunk& chunk = r.chunks.front();
  if (chunk.inFile && chunk.bytes.empty()) {
    chunk.bytes.resize(chunk.size);
    size_t done = 0;
    while (done < chunk.size) {
      const ssize_t n = ::pread(fd_, chunk.bytes.data() + done, chunk.size - done,
                                static_cast<off_t>(chunk.offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        throw Error(std::string("Cannot read the rows kept in a temporary file. ") +
                        std::strerror(n < 0 ? errno : EIO),
                    ErrorScope::Settings);
      }
      done += static_cast<size_t>(n);
    }
  }
  RowOutcome outcome = Read(chunk.bytes, r.readAt);
  if (r.readAt == chunk.bytes.size()) {
    if (!chunk.inFile) inMemory_ -= chunk.bytes.size();
    r.chunks.pop_front();
    r.readAt = 0;
  }
  return outcome;
}

// Writes every chunk held in memory to the end of the file. A chunk that cannot be written stays
// in memory, and so does everything after it.
void LaterRows::Spill() {
  if (!OpenFile()) return;
  for (Run& r : runs_) {
    for (Chunk& chunk : r.chunks) {
      if (chunk.inFile) continue;
      if (!WriteAll(fd_, chunk.bytes, fileEnd_)) {
        fileFailed_ = true;
        return;
      }
      chunk.inFile = true;
      chunk.offset = fileEnd_;
      chunk.size = chunk.bytes.size();
      fileEnd_ += chunk.size;
      inMemory_ -= chunk.size;
      // Its first records may have been taken already: the reading position stays valid, since
      // the chunk comes back whole.
      std::string().swap(chunk.bytes);
    }
  }
}

bool LaterRows::OpenFile() {
  if (fd_ < 0 && !fileFailed_) {
    fd_ = OpenUnnamedFile();
    fileFailed_ = fd_ < 0;
  }
  return !fileFailed_;
}

}  // namespace swelox
