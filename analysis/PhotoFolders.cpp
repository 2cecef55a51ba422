#include "analysis/PhotoFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/FileOrder.h"
#include "core/Errors.h"
#include "core/PrintableText.h"

namespace swelox {
namespace {

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() <= suffix.size()) return false;
  const std::string_view end = name.substr(name.size() - suffix.size());
  return std::equal(end.begin(), end.end(), suffix.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
}

bool StartsWithSoi(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  unsigned char start[3] = {};
  ssize_t got;
  do {
    got = ::read(fd, start, sizeof start);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  return got == 3 && start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
}

bool IsFolder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string Joined(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

struct Entry {
  std::string name;
  enum class Kind { File, Folder, Other } kind;
};

std::vector<Entry> ReadFolder(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) {
    throw Error("cannot read the folder '" + EscapeControlBytes(folder, Backslash::AsItIs) +
                    "': " + std::strerror(errno),
                ErrorScope::Settings);
  }
  std::vector<Entry> entries;
  errno = 0;
  while (const dirent* found = ::readdir(dir.get())) {
    const std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    Entry::Kind kind = Entry::Kind::Other;
    unsigned char type = found->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      // A link is taken for what it points at, except a link to a folder, which is not walked:
      // a link back up would never end.
      struct stat status {};
      const std::string path = Joined(folder, name);
      if (::stat(path.c_str(), &status) == 0) {
        if (S_ISREG(status.st_mode)) kind = Entry::Kind::File;
        if (S_ISDIR(status.st_mode) && type == DT_UNKNOWN) kind = Entry::Kind::Folder;
      }
    } else if (type == DT_REG) {
      kind = Entry::Kind::File;
    } else if (type == DT_DIR) {
      kind = Entry::Kind::Folder;
    }
    entries.push_back({name, kind});
    errno = 0;
  }
  if (errno != 0) {
    throw Error("cannot read the folder '" + EscapeControlBytes(folder, Backslash::AsItIs) +
                    "': " + std::strerror(errno),
                ErrorScope::Settings);
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    // Names equal in natural order (007 and 7) keep one order on every machine.
    if (NaturalLess(a.name, b.name)) return true;
    if (NaturalLess(b.name, a.name)) return false;
    return a.name < b.name;
  });
  return entries;
}

void AddFolder(const std::string& folder, bool recursive, PathList& photos, FolderTally& tally) {
  for (const Entry& entry : ReadFolder(folder)) {
    const std::string path = Joined(folder, entry.name);
    if (entry.name.front() == '.') {
      // Hidden: a desktop's thumbnails, or the "._IMG_0001.jpg" resource files a Mac leaves.
      if (entry.kind != Entry::Kind::Folder) ++tally.leftOut;
    } else if (entry.kind == Entry::Kind::Folder) {
      if (recursive) {
        AddFolder(path, recursive, photos, tally);
      } else {
        ++tally.subfolders;
      }
    } else if (entry.kind == Entry::Kind::File && IsPhotoInFolder(path, entry.name)) {
      photos.push_back(path);
    } else {
      ++tally.leftOut;
    }
  }
}

std::string Counted(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool IsPhotoInFolder(const std::string& path, std::string_view name) {
  for (const std::string_view suffix : {".jpg", ".jpeg", ".jpe", ".jfif"}) {
    if (EndsWithNoCase(name, suffix)) return true;
  }
  return StartsWithSoi(path);
}

void ExpandFolders(PathList& paths, bool recursive, FolderTally& tally) {
  size_t first = 0;
  while (first < paths.size() && !IsFolder(paths[first])) ++first;
  if (first == paths.size()) return;  // no folder: a long list is not copied
  PathList expanded;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string path = paths[i];
    if (i >= first && IsFolder(path)) {
      AddFolder(path, recursive, expanded, tally);
    } else {
      expanded.push_back(path);
    }
  }
  paths = std::move(expanded);
}

std::string TallyLine(const FolderTally& tally) {
  std::string line;
  if (tally.leftOut > 0) {
    line = Counted(tally.leftOut, "file that is no JPEG photo", "files that are no JPEG photos") +
           " left out of the folders given";
  }
  if (tally.subfolders > 0) {
    line += (line.empty() ? "" : "; ") + Counted(tally.subfolders, "subfolder", "subfolders") +
            " not walked (--recursive walks them)";
  }
  return line;
}

}  // namespace swelox
