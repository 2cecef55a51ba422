#include "analysis/FileOrder.h"

#include <algorithm>
#include <optional>

#include "core/Errors.h"
#include "imaging/JpegDecoder.h"

namespace swelox {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// -1, 0 or 1 as the digit runs a and b write a smaller, equal or larger number.
int CompareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

KnownCaptureTime HeaderTime(const std::string& path) {
  try {
    PictureFile file(path);
    return ReadKnownCaptureTime(file);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    // A file that cannot be opened fails when its turn comes; for ordering it has no time.
  }
  return {};
}

std::optional<std::string> TimeKey(const KnownCaptureTime& known, const CameraClock& clock) {
  if (known.time) {
    if (auto corrected = clock.Correct(*known.time)) return std::move(corrected->sortKey);
  }
  return std::nullopt;
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t endA = i, endB = j;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      const int c = CompareNumbers(a.substr(i, endA - i), b.substr(j, endB - j));
      if (c != 0) return c < 0;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

constexpr struct {
  FileOrder order;
  const char* name;
} kOrderNames[] = {
    {FileOrder::AsGiven, "given"}, {FileOrder::Name, "name"}, {FileOrder::Time, "time"}};

FileOrder ParseFileOrder(std::string_view text) {
  for (const auto& entry : kOrderNames) {
    if (text == entry.name) return entry.order;
  }
  throw Error("unknown order '" + std::string(text) + "' (the orders are name and time)",
              ErrorScope::Settings);
}

const char* FileOrderName(FileOrder order) {
  for (const auto& entry : kOrderNames) {
    if (entry.order == order) return entry.name;
  }
  return "given";
}

void OrderFiles(std::vector<std::string>& files, FileOrder order, std::stop_token stop,
                const CameraClock& clock, std::vector<KnownCaptureTime>* times) {
  if (times != nullptr) times->assign(files.size(), KnownCaptureTime());
  if (order == FileOrder::AsGiven) return;
  if (order == FileOrder::Name) {
    std::stable_sort(files.begin(), files.end(), NaturalLess);
    return;
  }
  struct Entry {
    std::optional<std::string> key;
    size_t index;
  };
  std::vector<KnownCaptureTime> known(files.size());
  std::vector<Entry> entries(files.size());
  for (size_t k = 0; k < files.size(); ++k) {
    if (stop.stop_requested()) return;
    known[k] = HeaderTime(files[k]);
    entries[k] = {TimeKey(known[k], clock), k};
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.key && b.key) return *a.key < *b.key;
    if (a.key || b.key) return a.key.has_value();
    return NaturalLess(files[a.index], files[b.index]);
  });
  std::vector<std::string> ordered;
  ordered.reserve(files.size());
  for (const Entry& e : entries) ordered.push_back(std::move(files[e.index]));
  files = std::move(ordered);
  if (times != nullptr) {
    for (size_t k = 0; k < entries.size(); ++k) (*times)[k] = std::move(known[entries[k].index]);
  }
}

}  // namespace swelox
