// A watched folder hands out each photo once it is whole, never one still being written, and
// goes on through photos removed early and the folder itself removed and made again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "analysis/FolderWatch.h"
#include "core/Errors.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

const std::vector<uint8_t>& Photo() {
  static const std::vector<uint8_t> bytes = [] {
    TempDir dir;
    return test::ReadBytes(test::EncodeWithCjpeg(dir, "p.jpg", test::RandomRaster(40, 30, 7)));
  }();
  return bytes;
}

struct Taken {
  std::vector<std::string> photos;  // names, without the folder
  std::vector<std::string> notices;
};

Taken TakeAll(FolderWatch& watch, size_t limit = SIZE_MAX) {
  Taken taken;
  for (FolderChange& change : watch.Take(limit)) {
    if (change.kind == FolderChange::Kind::Photo) {
      taken.photos.push_back(fs::path(change.text).filename().string());
    } else {
      taken.notices.push_back(change.text);
    }
  }
  return taken;
}

// Waits (at most a few seconds) until the watch has something, then takes it.
Taken WaitAndTake(FolderWatch& watch) {
  std::stop_source stop;
  std::jthread deadline([&](std::stop_token cancel) {
    for (int k = 0; k < 100 && !cancel.stop_requested(); ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop.request_stop();
  });
  EXPECT_TRUE(watch.Wait(stop.get_token())) << "nothing came";
  return TakeAll(watch);
}

TEST(FolderWatch, TemporaryNamesAreThoseOfCamerasAndSyncTools) {
  const struct {
    const char* name;
    bool temporary;
  } cases[] = {
      {"IMG_1.jpg", false},         {".IMG_1.jpg", true},     {".syncthing.a.jpg.tmp", true},
      {"IMG_1.jpg.part", true},     {"IMG_1.jpg.PART", true}, {"IMG_1.jpg.tmp", true},
      {"IMG_1.jpg~", true},         {"IMG_1.tmp.jpg", false}, {"part", false},
      {"IMG_1.jpg.partial", false}, {"a~b.jpg", false},
  };
  for (const auto& c : cases) EXPECT_EQ(TemporaryPhotoName(c.name), c.temporary) << c.name;
}

TEST(FolderWatch, PhotosThereAtTheStartComeInNaturalOrderUnlessNewOnly) {
  TempDir dir;
  for (const char* name : {"IMG_10.jpg", "IMG_9.jpg", "IMG_100.jpg", ".hidden.jpg", "b.jpg.part"}) {
    test::WriteBytes(dir.File(name), Photo());
  }
  test::WriteBytes(dir.File("notes.txt"), {'h', 'i'});
  test::WriteBytes(dir.File("empty"), {});  // neither the name nor the start of a photo
  fs::create_directory(dir.File("sub.jpg"));
  {
    FolderWatch watch(dir.path().string(), false);
    const Taken taken = TakeAll(watch);
    EXPECT_EQ(taken.photos, (std::vector<std::string>{"IMG_9.jpg", "IMG_10.jpg", "IMG_100.jpg"}));
    ASSERT_EQ(taken.notices.size(), 1u);
    EXPECT_EQ(taken.notices[0], "2 files that are no JPEG photos left out of the folders given");
    EXPECT_TRUE(TakeAll(watch).photos.empty());  // each once
  }
  FolderWatch watch(dir.path().string() + "/", true);
  EXPECT_TRUE(TakeAll(watch).photos.empty());
  test::WriteBytes(dir.File("IMG_101.jpg"), Photo());
  const Taken later = WaitAndTake(watch);
  EXPECT_EQ(later.photos, std::vector<std::string>{"IMG_101.jpg"});
  // The path handed out is the folder's own, without a doubled separator.
  test::WriteBytes(dir.File("IMG_102.jpg"), Photo());
  ASSERT_TRUE(watch.Wait({}));
  const std::vector<FolderChange> changes = watch.Take(1);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].text, dir.path().string() + "/IMG_102.jpg");
}

TEST(FolderWatch, APhotoStillBeingWrittenWaitsUntilItIsClosed) {
  TempDir dir;
  const std::vector<uint8_t>& photo = Photo();
  const size_t half = photo.size() / 2;
  // Open already when the watch starts, and open when it is looked at again.
  const int early = ::open(dir.File("early.jpg").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(early, 0);
  ASSERT_EQ(::write(early, photo.data(), half), static_cast<ssize_t>(half));
  FolderWatch watch(dir.path().string(), false);
  EXPECT_TRUE(TakeAll(watch).photos.empty());
  // A second writer's close while the first still writes.
  const int other = ::open(dir.File("early.jpg").c_str(), O_WRONLY);
  ::close(other);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // past the looks again
  EXPECT_TRUE(TakeAll(watch).photos.empty());
  ASSERT_EQ(::write(early, photo.data() + half, photo.size() - half),
            static_cast<ssize_t>(photo.size() - half));
  ::close(early);
  EXPECT_EQ(WaitAndTake(watch).photos, std::vector<std::string>{"early.jpg"});
  EXPECT_EQ(test::ReadBytes(dir.File("early.jpg")), photo);

  // Written under a temporary name, then renamed: once, under its own name.
  test::WriteBytes(dir.File("late.jpg.part"), photo);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(TakeAll(watch).photos.empty());
  fs::rename(dir.File("late.jpg.part"), dir.File("late.jpg"));
  EXPECT_EQ(WaitAndTake(watch).photos, std::vector<std::string>{"late.jpg"});

  // Opened for writing and closed unchanged: the same version, not handed out again; written
  // again: a new version.
  ::close(::open(dir.File("late.jpg").c_str(), O_WRONLY));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(TakeAll(watch).photos.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  test::WriteBytes(dir.File("late.jpg"), photo);
  EXPECT_EQ(WaitAndTake(watch).photos, std::vector<std::string>{"late.jpg"});
}

TEST(FolderWatch, APhotoRemovedBeforeItIsTakenIsSaidAndTheWatchGoesOn) {
  TempDir dir;
  FolderWatch watch(dir.path().string(), false);
  test::WriteBytes(dir.File("gone.jpg"), Photo());
  fs::remove(dir.File("gone.jpg"));
  test::WriteBytes(dir.File("kept.jpg"), Photo());
  test::WriteBytes(dir.File("notes.xmp"), {'h', 'i', '\n'});
  test::WriteBytes(dir.File("cut.jpg"), {'h', 'i', '\n'});  // a photo by its name: its error tells
  const Taken taken = WaitAndTake(watch);
  EXPECT_EQ(taken.photos, (std::vector<std::string>{"kept.jpg", "cut.jpg"}));
  ASSERT_EQ(taken.notices.size(), 2u);
  EXPECT_EQ(taken.notices[0], dir.File("gone.jpg") + ": removed before it could be measured");
  EXPECT_EQ(taken.notices[1], dir.File("notes.xmp") + ": left out: no JPEG photo");
}

TEST(FolderWatch, AFolderRemovedAndMadeAgainIsWatchedAgain) {
  TempDir dir;
  const std::string folder = dir.File("photos");
  fs::create_directory(folder);
  test::WriteBytes(folder + "/a.jpg", Photo());
  FolderWatch watch(folder, false);
  EXPECT_EQ(TakeAll(watch).photos, std::vector<std::string>{"a.jpg"});
  fs::remove_all(folder);
  Taken gone = WaitAndTake(watch);
  EXPECT_TRUE(gone.photos.empty());
  ASSERT_EQ(gone.notices.size(), 1u);
  EXPECT_EQ(gone.notices[0], folder + ": the folder is gone; waiting for it to be made again");
  // Made again, with a photo of the same name in it at once: a new photo.
  fs::create_directory(folder);
  test::WriteBytes(folder + "/a.jpg", Photo());
  Taken back = WaitAndTake(watch);
  ASSERT_FALSE(back.notices.empty());
  EXPECT_EQ(back.notices[0], folder + ": the folder is there again; watching it");
  if (back.photos.empty()) back.photos = WaitAndTake(watch).photos;
  EXPECT_EQ(back.photos, std::vector<std::string>{"a.jpg"});
  // Moved away and another made in its place.
  fs::rename(folder, dir.File("old"));
  fs::create_directory(folder);
  test::WriteBytes(folder + "/b.jpg", Photo());
  test::WriteBytes(dir.File("old") + "/c.jpg", Photo());  // no longer watched
  std::vector<std::string> photos;
  for (int k = 0; k < 3 && photos.empty(); ++k) photos = WaitAndTake(watch).photos;
  EXPECT_EQ(photos, std::vector<std::string>{"b.jpg"});
}

TEST(FolderWatch, ABurstComesInBatchesOfTheLimitAndAStopEndsTheWait) {
  TempDir dir;
  FolderWatch watch(dir.path().string(), true);
  for (int k = 0; k < 300; ++k) {
    test::WriteBytes(dir.File("b" + std::to_string(k) + ".jpg.tmp"), Photo());
    fs::rename(dir.File("b" + std::to_string(k) + ".jpg.tmp"),
               dir.File("b" + std::to_string(k) + ".jpg"));
  }
  ASSERT_TRUE(watch.Wait({}));
  EXPECT_EQ(TakeAll(watch, 256).photos.size(), 256u);
  const Taken rest = TakeAll(watch, 256);
  ASSERT_EQ(rest.photos.size(), 44u);
  EXPECT_EQ(rest.photos.back(), "b299.jpg");

  std::stop_source stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(watch.Wait(stop.get_token()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  stopper.join();
}

TEST(FolderWatch, WhatIsNoFolderIsRefused) {
  TempDir dir;
  test::WriteBytes(dir.File("file"), Photo());
  for (const std::string& path : {dir.File("missing"), dir.File("file")}) {
    try {
      FolderWatch watch(path, false);
      ADD_FAILURE() << path;
    } catch (const Error& error) {
      EXPECT_EQ(std::string(error.what()).rfind("Cannot watch folder \"" + path + "\". ", 0), 0u)
          << error.what();
      EXPECT_EQ(error.scope(), ErrorScope::Settings);
    }
  }
}

}  // namespace
}  // namespace swelox
