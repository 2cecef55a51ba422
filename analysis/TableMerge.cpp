#include "analysis/TableMerge.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "analysis/GrowingTable.h"
#include "analysis/RunPlan.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/PrintableText.h"

namespace swelox {
namespace {

std::string Shown(const std::string& path) { return EscapeControlBytes(path, Backslash::AsItIs); }

[[noreturn]] void Refuse(const std::string& why) { throw Error(why, ErrorScope::Settings); }

struct Part {
  std::string path;
  Dataset dataset;
  std::unique_ptr<TableRows> rows;
  TableRows::Row next;
  bool hasNext = false;
  int64_t rowsRead = 0;
};

std::string PartName(const Part& part) {
  return "part " + FormatInteger(part.dataset.part.part) + " of " +
         FormatInteger(part.dataset.part.partOf) + " (" + Shown(part.path) + ")";
}

// The descriptors, each checked against the first part's, in the order of the parts.
std::vector<Part> ReadParts(const std::vector<std::string>& paths) {
  std::vector<Part> parts;
  for (const std::string& path : paths) {
    Part part;
    part.path = path;
    part.dataset = ReadTableDescriptor(path);
    if (!part.dataset.photoColumns) {
      Refuse(Shown(path) + " is a saved table, not the part of a job (--shard with --output)");
    }
    if (part.dataset.part.part == 0) {
      Refuse(Shown(path) +
             " is the table of a whole list, not a part (it was made without --shard)");
    }
    parts.push_back(std::move(part));
  }
  std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
    return a.dataset.part.part < b.dataset.part.part;
  });
  const Part& first = parts.front();
  const int64_t partOf = first.dataset.part.partOf;
  for (size_t k = 1; k < parts.size(); ++k) {
    const Part& part = parts[k];
    if (part.dataset.part.partOf != partOf) {
      Refuse(Shown(part.path) + " is part " + FormatInteger(part.dataset.part.part) + " of " +
             FormatInteger(part.dataset.part.partOf) + ", but " + Shown(first.path) +
             " is one of " + FormatInteger(partOf));
    }
    if (part.dataset.part.part == parts[k - 1].dataset.part.part) {
      Refuse("part " + FormatInteger(part.dataset.part.part) + " of " + FormatInteger(partOf) +
             " is given twice: " + Shown(parts[k - 1].path) + " and " + Shown(part.path));
    }
    Dataset same = part.dataset;
    same.part.part = first.dataset.part.part;  // the part's number is its own
    const std::string difference = DatasetDifference(first.dataset, same);
    if (!difference.empty()) {
      Refuse(Shown(part.path) + " was made otherwise than " + Shown(first.path) + ": " +
             difference);
    }
  }
  std::vector<std::string> missing;
  int64_t expected = 1;
  for (const Part& part : parts) {
    for (; expected < part.dataset.part.part; ++expected)
      missing.push_back(FormatInteger(expected));
    expected = part.dataset.part.part + 1;
  }
  for (; expected <= partOf; ++expected) missing.push_back(FormatInteger(expected));
  if (!missing.empty()) {
    std::string list;
    for (size_t k = 0; k < missing.size(); ++k) {
      list += (k == 0 ? "" : k + 1 == missing.size() ? " and " : ", ") + missing[k];
    }
    Refuse((missing.size() == 1 ? "part " + list + " of " + FormatInteger(partOf) + " is"
                                : "parts " + list + " of " + FormatInteger(partOf) + " are") +
           " missing");
  }
  for (const Part& part : parts) {
    if (part.dataset.end.status != RunEnd::Status::Complete) {
      Refuse(PartName(part) + " is not finished: " + EndSummary(part.dataset.end) +
             "; run its command again to finish it");
    }
  }
  return parts;
}

// The output, written to a file beside it and renamed into place once whole.
class MergedFile {
 public:
  explicit MergedFile(const std::string& path) : path_(path), temporary_(path + ".new") {
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) Fail(temporary_, "cannot create");
  }
  ~MergedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!done_) ::unlink(temporary_.c_str());
  }
  MergedFile(const MergedFile&) = delete;
  MergedFile& operator=(const MergedFile&) = delete;

  void Add(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kFlushBytes) Flush();
  }
  // Syncs the whole table, then (`before`) the descriptor, then puts the table in place.
  template <typename Before>
  void Finish(Before before) {
    Flush();
    if (::fsync(fd_) != 0) Fail(temporary_, "cannot write");
    if (::close(fd_) != 0) {
      fd_ = -1;
      Fail(temporary_, "cannot write");
    }
    fd_ = -1;
    before();
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) Fail(path_, "cannot create");
    done_ = true;
    SyncFolderOf(path_);
  }

 private:
  static constexpr size_t kFlushBytes = 1 << 20;
  void Flush() {
    if (!WriteAll(fd_, buffer_)) Fail(temporary_, "cannot write");
    buffer_.clear();
  }
  [[noreturn]] static void Fail(const std::string& path, const char* doing) {
    Refuse(Shown(path) + ": " + doing + ": " + std::strerror(errno));
  }

  std::string path_, temporary_;
  int fd_ = -1;
  bool done_ = false;
  std::string buffer_;
};

// Every part open at once, when the runs interleave: as many descriptors as parts, and more.
void AllowOpenFiles(size_t count) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= count + 64) return;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, count + 64);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

MergeSummary MergeParts(const std::vector<std::string>& paths, const std::string& output) {
  struct stat status {};
  if (::stat(output.c_str(), &status) == 0) {
    Refuse(Shown(output) + " exists already; --merge makes a new table");
  }
  std::vector<Part> parts = ReadParts(paths);
  for (const Part& part : parts) {
    if (part.path == output) Refuse(Shown(output) + " is one of the parts");
  }
  const Dataset& first = parts.front().dataset;

  Dataset merged = first;
  const size_t slash = output.find_last_of('/');
  merged.tablePath = slash == std::string::npos ? output : output.substr(slash + 1);
  merged.format = FormatForName(output);
  merged.part = {};
  merged.end = {};
  merged.end.status = RunEnd::Status::Complete;
  for (const Part& part : parts) {
    const Dataset& d = part.dataset;
    merged.created = std::min(merged.created, d.created);
    merged.started = std::min(merged.started, d.started);
    merged.ended = std::max(merged.ended, d.ended);
    merged.end.photos += d.end.photos;
    merged.end.photosMeasured += d.end.photosMeasured;
    merged.end.photosFailed += d.end.photosFailed;
    merged.end.photosDamaged += d.end.photosDamaged;
  }

  // One whole run writes the rows run by run, each run's in the order of the list: so do the
  // parts one after the other, run by run. With one run each part is read to its end at once.
  int64_t runCount = 1;
  try {
    runCount = std::max<int64_t>(1, RunCount(first.settings));
  } catch (const Error&) {
    runCount = 1;  // no run was made: the parts hold no rows
  }
  const bool interleaved = runCount > 1;
  if (interleaved) AllowOpenFiles(parts.size());
  const size_t block = interleaved ? size_t{1} << 16 : size_t{1} << 20;

  MergedFile file(output);
  file.Add(TableRecord(TableHeader(merged.settings, true), merged.format));
  std::string line;
  const auto finishPart = [&](Part& part) {
    if (part.rows->cutBytes() != 0) {
      Refuse(PartName(part) + " ends in a cut record; run its command again to finish it");
    }
    if (part.rowsRead != part.dataset.end.rows) {
      Refuse(PartName(part) + " holds " + FormatInteger(part.rowsRead) +
             " rows, but its descriptor counts " + FormatInteger(part.dataset.end.rows));
    }
    part.rows.reset();
  };
  for (int64_t run = 0; run < runCount; ++run) {
    for (Part& part : parts) {
      if (run == 0) {
        part.rows = std::make_unique<TableRows>(part.path, part.dataset, block);
        part.hasNext = part.rows->Next(part.next);
      }
      if (!part.rows) continue;
      while (part.hasNext && part.next.run == run) {
        if (part.dataset.format == merged.format) {
          file.Add(part.next.record);
        } else {
          line.clear();
          for (const std::string& field : part.next.split.fields) {
            line += (line.empty() ? "" : "\t") + field;
          }
          file.Add(TableRecord(line, merged.format));
        }
        ++part.rowsRead;
        ++merged.end.rows;
        part.hasNext = part.rows->Next(part.next);
      }
      if (part.hasNext && part.next.run < run) {
        Refuse(Shown(part.path) + ": line " + FormatInteger(part.rows->line()) +
               " holds a row of run " + FormatInteger(part.next.run + 1) + " after those of run " +
               FormatInteger(run + 1) + ": the rows are not in the order one command writes");
      }
      if (part.hasNext && run + 1 == runCount) {
        Refuse(Shown(part.path) + ": line " + FormatInteger(part.rows->line()) +
               " holds a row of run " + FormatInteger(part.next.run + 1) +
               ", but the settings make " + FormatInteger(runCount) + " runs");
      }
      if (!part.hasNext) finishPart(part);
    }
  }
  file.Finish([&] { ReplaceFile(DescriptorPathFor(output), DescriptorText(merged)); });
  return {static_cast<int64_t>(parts.size()), merged.end.photos, merged.end.rows};
}

}  // namespace swelox
