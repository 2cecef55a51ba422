// Folders among the paths of a command: a folder stands for the JPEG photos in it, in natural
// order (IMG_9 before IMG_10), and with `recursive` for those of its subfolders too, each
// subfolder's photos where its name sorts among the folder's entries. Hidden subfolders (".name")
// and links to folders are not walked. No Qt: swelox-cli and the
// window's chooser share it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/PathList.h"

namespace swelox {

// What the folders held besides their photos.
struct FolderTally {
  int64_t leftOut = 0;     // files that are no JPEG photos, and hidden files (".name")
  int64_t subfolders = 0;  // subfolders not walked (no `recursive`)
};

// Whether a file in a folder is taken as a photo: by its name (.jpg, .jpeg, .jpe, .jfif in any
// case; a broken one is reported when its turn comes, as a named file is), or else by its content,
// when it begins with a JPEG's start-of-image marker (a camera's or a script's name without the
// extension).
bool IsPhotoInFolder(const std::string& path, std::string_view name);

// Replaces every folder in `paths` by its photos; other paths stay as they are, in place. A list
// without a folder is left untouched, not copied. Raises Error (settings) naming a folder that
// cannot be read.
void ExpandFolders(PathList& paths, bool recursive, FolderTally& tally);

// The one line that says what was left out, or "" when nothing was: "3 files that are no JPEG
// photos left out of the folders given; 2 subfolders not walked (--recursive walks them)".
std::string TallyLine(const FolderTally& tally);

}  // namespace swelox
