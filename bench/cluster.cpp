// The figures of a season's job on a cluster, with swelox-cli itself:
//  1. deciding what is left of a table of 100,000 photos, all of them done: the time of the whole
//     command, and the photos it opens (inotify on their folder; none is the mark);
//  2. the memory that decision takes against the rows already done: peak resident memory for
//     10,000 and for 100,000 done photos, and the bytes each further done photo adds (the list's
//     name, the photo's identity and its key together);
//  3. merging 1,000 parts of 1,000 rows each: the time of swelox-cli --merge.
//
//   swelox_cluster_bench [--quick] [--cli SWELOX_CLI] [--keep DIR]
//
// --quick: 10,000 photos and 100 parts of 100 rows, a smoke test of seconds whose figures are not
// judged. The tables are made from one measured row (the rows' figures do not matter here); the
// photos are hard links of a sample photo, so they cost little disk space.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/Dataset.h"
#include "analysis/GrowingTable.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  double seconds = 0;     // wall
  double cpuSeconds = 0;  // user + system
  long peakKib = 0;
};

// Runs the command (no shell) and waits for it, with its time and peak memory.
Outcome Run(const std::vector<std::string>& arguments, const std::string& out = "/dev/null") {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  Outcome outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.peakKib = usage.ru_maxrss;
  outcome.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return outcome;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
  return line;
}

// One measured row of the sample and its descriptor, as the templates of made-up tables.
struct Template {
  std::vector<std::string> fields;  // of the row; Pic and Source are replaced
  size_t pic = 0, source = 0;
  swelox::Dataset dataset;
};

Template MakeTemplate(const std::string& cli, const fs::path& work, const std::string& photo,
                      bool part) {
  const std::string table = (work / (part ? "template-part.tsv" : "template.tsv")).string();
  std::vector<std::string> command = {cli, "-j1", "--no-progress", "-o", table, photo};
  if (part) command.insert(command.begin() + 1, "--shard=1/1");
  if (Run(command).status != 0) throw std::runtime_error("swelox-cli failed on " + photo);
  const std::string text = ReadText(table);
  const std::string header = text.substr(0, text.find('\n'));
  const std::string row =
      text.substr(header.size() + 1, text.find('\n', header.size() + 1) - header.size() - 1);
  Template t;
  t.fields = Split(row);
  const std::vector<std::string> names = Split(header);
  t.pic = size_t(std::find(names.begin(), names.end(), "Pic") - names.begin());
  t.source = size_t(std::find(names.begin(), names.end(), "Source") - names.begin());
  t.dataset = swelox::ReadDescriptor(ReadText(swelox::DescriptorPathFor(table)));
  return t;
}

// A table of the photos NAME_begin .. NAME_end-1 in `folder` with its descriptor.
void MakeTable(const Template& t, const std::string& path, const fs::path& folder, size_t begin,
               size_t end, swelox::Dataset dataset) {
  std::string text = swelox::TableHeader(dataset.settings, true) + "\n";
  std::vector<std::string> fields = t.fields;
  for (size_t k = begin; k < end; ++k) {
    const std::string name = "IMG_" + std::to_string(k) + ".jpg";
    fields[t.pic] = name;
    fields[t.source] = (folder / name).string();
    text += Join(fields) + "\n";
  }
  WriteText(path, text);
  dataset.tablePath = fs::path(path).filename().string();
  dataset.end.rows = static_cast<int64_t>(end - begin);
  dataset.end.photos = dataset.end.photosMeasured = dataset.end.rows;
  WriteText(swelox::DescriptorPathFor(path), swelox::DescriptorText(dataset));
}

// Photo opens in `folder` while `work` runs.
template <typename Work>
int CountOpens(const fs::path& folder, Work work) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(), IN_OPEN) < 0) {
    throw std::runtime_error("inotify cannot watch " + folder.string());
  }
  work();
  int opens = 0;
  alignas(inotify_event) char buffer[1 << 16];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->mask & IN_OPEN) ++opens;
      at += sizeof(inotify_event) + event->len;
    }
  }
  ::close(fd);
  return opens;
}

const char* Verdict(bool quick, bool ok) { return quick ? "(quick)" : ok ? "ok" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::string cli = SWELOX_CLI_PATH;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      quick = true;
    } else if (a == "--cli" && i + 1 < argc) {
      cli = argv[++i];
    } else if (a == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--quick] [--cli SWELOX_CLI] [--keep DIR]\n", argv[0]);
      return 2;
    }
  }
  const size_t photos = quick ? 10000 : 100000;
  const size_t parts = quick ? 100 : 1000, rowsPerPart = quick ? 100 : 1000;
  char pattern[] = "/tmp/swelox-cluster-bench.XXXXXX";
  const fs::path work = keep.empty() ? fs::path(::mkdtemp(pattern)) : fs::path(keep);
  fs::create_directories(work);
  try {
    const fs::path folder = work / "photos";
    fs::create_directories(folder);
    const std::string sample = (folder / "IMG_0.jpg").string();
    fs::copy_file(fs::path(SWELOX_EXAMPLES) / "by-the-water.jpg", sample,
                  fs::copy_options::overwrite_existing);
    // A file system takes some 65,000 links to one file: a new copy after each 60,000.
    for (size_t k = 1; k < photos; ++k) {
      const fs::path link = folder / ("IMG_" + std::to_string(k) + ".jpg");
      if (fs::exists(link)) continue;
      if (k % 60000 == 0) {
        fs::copy_file(sample, link);
        fs::last_write_time(link, fs::last_write_time(sample));  // the rows' Modified
      } else {
        fs::create_hard_link(folder / ("IMG_" + std::to_string(k / 60000 * 60000) + ".jpg"), link);
      }
    }
    const Template whole = MakeTemplate(cli, work, sample, false);

    // 1 and 2: tables whose photos are all done, the command given the same photos again.
    const auto decide = [&](size_t count) {
      const std::string table = (work / ("done-" + std::to_string(count) + ".tsv")).string();
      const std::string list = (work / ("list-" + std::to_string(count) + ".txt")).string();
      MakeTable(whole, table, folder, 0, count, whole.dataset);
      std::string names;
      for (size_t k = 0; k < count; ++k) {
        names += (folder / ("IMG_" + std::to_string(k) + ".jpg")).string() + "\n";
      }
      WriteText(list, names);
      const std::string before = ReadText(table);
      Outcome best;
      int opens = 0;
      for (int round = 0; round < 3; ++round) {
        Outcome o;
        opens += CountOpens(folder, [&] {
          o = Run({cli, "-j2", "--no-progress", "-o", table, "--files-from", list});
        });
        if (o.status != 0) throw std::runtime_error("swelox-cli failed on " + table);
        if (round == 0 || o.seconds < best.seconds) best.seconds = o.seconds;
        if (round == 0 || o.cpuSeconds < best.cpuSeconds) best.cpuSeconds = o.cpuSeconds;
        best.peakKib = std::max(best.peakKib, o.peakKib);
      }
      if (ReadText(table) != before) throw std::runtime_error(table + " changed");
      return std::make_pair(best, opens);
    };
    const auto [small, smallOpens] = decide(photos / 10);
    const auto [large, largeOpens] = decide(photos);
    const double perRow =
        double(large.peakKib - small.peakKib) * 1024.0 / double(photos - photos / 10);

    // 3: the parts of a job, each a slice of one list, merged.
    Template part = MakeTemplate(cli, work, sample, true);
    const fs::path partFolder = work / "parts";
    fs::remove_all(partFolder);
    fs::create_directories(partFolder);
    std::vector<std::string> partPaths;
    swelox::Dataset d = part.dataset;
    d.part.partOf = static_cast<int64_t>(parts);
    d.part.listPhotos = static_cast<int64_t>(parts * rowsPerPart);
    for (size_t k = 0; k < parts; ++k) {
      d.part.part = static_cast<int64_t>(k + 1);
      partPaths.push_back((partFolder / ("part-" + std::to_string(k + 1) + ".tsv")).string());
      MakeTable(part, partPaths.back(), folder, k * rowsPerPart, (k + 1) * rowsPerPart, d);
    }
    // The page cache holds the parts, as it would just after the tasks wrote them.
    std::vector<std::string> merge = {cli, "--merge", "-o", (work / "merged.tsv").string()};
    merge.insert(merge.end(), partPaths.begin(), partPaths.end());
    double mergeSeconds = 0;
    for (int round = 0; round < 3; ++round) {
      fs::remove(work / "merged.tsv");
      const Outcome o = Run(merge);
      if (o.status != 0) throw std::runtime_error("swelox-cli --merge failed");
      mergeSeconds = round == 0 ? o.seconds : std::min(mergeSeconds, o.seconds);
    }
    size_t lines = 0;
    for (const char c : ReadText((work / "merged.tsv").string())) lines += c == '\n';
    if (lines != parts * rowsPerPart + 1) throw std::runtime_error("the merged table is short");

    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("swelox-cli %s%s; load average %.1f on %ld processors\n", cli.c_str(),
                quick ? " (quick: figures not judged)" : "", load[0],
                ::sysconf(_SC_NPROCESSORS_ONLN));
    // Judged on the processor time, which other programs on a shared machine do not inflate; the
    // wall time beside it is the same on an idle one.
    std::printf(
        "what is left of a table of %zu done photos: %.3f s of processor time, %.3f s "
        "wall (best of 3), %d photos opened  [< 1 s, none opened]  %s\n",
        photos, large.cpuSeconds, large.seconds, largeOpens,
        Verdict(quick, large.cpuSeconds < 1.0 && largeOpens == 0));
    std::printf(
        "peak memory: %.1f MiB for %zu done photos, %.1f MiB for %zu: %.0f bytes per "
        "further done photo, its name in the list included  [< 300]  %s\n",
        double(small.peakKib) / 1024, photos / 10, double(large.peakKib) / 1024, photos, perRow,
        Verdict(quick, perRow < 300 && smallOpens == 0));
    std::printf("merging %zu parts of %zu rows: %.3f s wall (best of 3)  [< 2 s]  %s\n", parts,
                rowsPerPart, mergeSeconds, Verdict(quick, mergeSeconds < 2.0));
    if (keep.empty()) fs::remove_all(work);
    const bool ok = large.cpuSeconds < 1.0 && largeOpens == 0 && smallOpens == 0 && perRow < 300 &&
                    mergeSeconds < 2.0;
    return quick || ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "swelox_cluster_bench: %s\n", e.what());
    if (keep.empty()) fs::remove_all(work);
    return 2;
  }
}
