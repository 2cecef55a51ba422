// A folder watched for photos as a camera, a card reader or a sync tool writes them: first the
// photos already there, then each new one once it is whole (closed after writing, or moved in),
// never one still being written. Through inotify; no Qt, so that the window and swelox-cli share
// it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <deque>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace swelox {

// A name that photos are written under until they are whole: a leading dot (rsync, Syncthing),
// an ending ".part" or ".tmp" (browsers, sync tools; either case) or "~" (editors, Nextcloud).
bool TemporaryPhotoName(std::string_view name);

// What the watch found: a photo to measure, or a line for the user about the folder.
struct FolderChange {
  enum class Kind { Photo, Notice };
  Kind kind = Kind::Photo;
  std::string text;  // Photo: its path (the folder's path, "/", the name); Notice: the line
};

class FolderWatch {
 public:
  // Starts watching `folder` and looks through the photos already in it (natural order of their
  // names), which the first Take hands out unless `newOnly`. Raises Error (settings) "Cannot watch
  // folder "%s". %s" when it is no folder or inotify cannot watch it.
  FolderWatch(const std::string& folder, bool newOnly);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Without waiting: at most `limit` photos (and the notices before them), in the order they
  // became whole. Each version of a photo is handed out once.
  std::vector<FolderChange> Take(size_t limit);
  // Waits until Take has something to hand out: true; false once `stop` is requested.
  bool Wait(std::stop_token stop);

  // The path of the folder's photos, as they are handed out.
  const std::string& folder() const { return folder_; }

 private:
  // What a photo was when it was handed out: another version of it is a new photo.
  struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t bytes = 0;
    timespec modified{};
    bool operator==(const Stamp& other) const;
  };
  enum class Seen { FromEvent, FromScan };

  void Watch();
  void ReadEvents();
  void Scan(bool handOut);
  // Looks at one name: hands it out when it is a whole photo (by the rule of a folder's photos),
  // keeps it waiting while it is being written. Returns false for a file that is no JPEG photo
  // (nothing said yet).
  bool Examine(const std::string& name, Seen seen);
  void Notice(const std::string& text);
  void Recheck();
  bool Due() const;

  std::string folder_;
  int inotify_ = -1;
  int wake_ = -1;   // an eventfd, written by a stop request
  int watch_ = -1;  // -1 while the folder is gone
  std::deque<FolderChange> ready_;
  std::unordered_map<std::string, Stamp> taken_;  // names handed out (or left out), by version
  // Names seen but not whole yet: kept until closed, or (where it cannot be told whether a writer
  // has them open) until they have not changed for a while.
  std::unordered_map<std::string, Stamp> waiting_;
  int64_t nextCheckMs_ = 0;  // when the waiting names and a gone folder are looked at again
};

}  // namespace swelox
