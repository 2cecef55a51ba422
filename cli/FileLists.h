// Lists of file names read from a file or standard input, as --files-from and --files0-from take
// them.
#pragma once

#include <string>

#include "core/PathList.h"

namespace swelox::cli {

// One name a line, or names ended by NUL bytes (what `find -print0` writes).
enum class ListSeparator { LineFeed, Nul };

struct FileList {
  std::string source;  // a path, or "-" for standard input
  ListSeparator separator = ListSeparator::LineFeed;
};

// The longest name a path can have, without its terminating NUL.
constexpr size_t kMaxPathBytes = 4095;

// Appends the names in `list` to `files`. A list that cannot be read, a name longer than any path,
// a NUL byte in a line-separated list and an empty name in a NUL-separated one raise UsageError
// as soon as they are met, so an endless source (/dev/zero) ends at once in little memory; so does
// a list whose names no longer fit in memory (an endless `yes photo.jpg`).
void ReadFileList(const FileList& list, PathList& files);

}  // namespace swelox::cli
