// What caused an error, as the code that decides on it reads it: each real cause (a missing file,
// no descriptor left, broken JPEG data, a setting that means nothing, a stop) gives its kind,
// whatever the message says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "analysis/Columns.h"
#include "analysis/FileOrder.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/Region.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/CliRun.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

// The kind of what `act` raised, through the one conversion the runner and the window use.
ErrorKind KindOf(const std::function<void()>& act) {
  try {
    act();
  } catch (...) {
    return ErrorFromException(std::current_exception()).kind();
  }
  ADD_FAILURE() << "nothing was raised";
  return ErrorKind::Other;
}

// The kind of the error the analysis of `path` gave its row.
ErrorKind AnalysisKind(const std::string& path) {
  const RectangleTexts size{"15", "12"};
  const std::vector<RowOutcome> outcomes = AnalyseFile(path, {&size, 1}, Direction::Below);
  if (!outcomes.front().error) {
    ADD_FAILURE() << path << " was analysed";
    return ErrorKind::Other;
  }
  return outcomes.front().error->kind();
}

TEST(ErrorKind, EachCauseGivesItsKind) {
  const test::TempDir dir;
  const std::string good =
      test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(64, 48, 3, true));
  const test::Bytes bytes = test::ReadBytes(good);
  const std::string notJpeg = dir.File("text.jpg");
  test::WriteBytes(notJpeg, test::ToBytes("This is not a picture.\n"));
  const std::string headerOnly = dir.File("header-only.jpg");
  test::WriteBytes(headerOnly, test::HeaderOnly(bytes));
  const std::string empty = dir.File("empty.jpg");
  test::WriteBytes(empty, {});

  struct Case {
    const char* name;
    std::function<ErrorKind()> kind;
    ErrorKind expected;
  };
  const std::vector<Case> cases = {
      {"missing file", [&] { return AnalysisKind(dir.File("missing.jpg")); },
       ErrorKind::InputOutput},
      {"a folder", [&] { return AnalysisKind(dir.path().string()); }, ErrorKind::InputOutput},
      {"/dev/null, no regular file", [] { return AnalysisKind("/dev/null"); },
       ErrorKind::InputOutput},
      {"not a JPEG", [&] { return AnalysisKind(notJpeg); }, ErrorKind::Decode},
      {"an empty file", [&] { return AnalysisKind(empty); }, ErrorKind::Decode},
      {"a region outside the picture",
       [&] {
         const RectangleTexts size{"15", "12"};
         return AnalyseFile(good, {&size, 1}, Direction::Below, ParseRegion("64x48+1+0"))
             .front()
             .error->kind();
       },
       ErrorKind::Decode},
      {"a width that is no number",
       [&] {
         const RectangleTexts size{"abc", "12"};
         return AnalyseFile(good, {&size, 1}, Direction::Below).front().error->kind();
       },
       ErrorKind::Usage},
      {"a malformed region", [] { return KindOf([] { ParseRegion("64x48+1"); }); },
       ErrorKind::Usage},
      {"an unknown column", [] { return KindOf([] { ParseColumnList("time,colour"); }); },
       ErrorKind::Usage},
      {"an unknown order", [] { return KindOf([] { ParseFileOrder("size"); }); }, ErrorKind::Usage},
      {"a failed allocation", [] { return KindOf([] { throw std::bad_alloc(); }); },
       ErrorKind::OutOfMemory},
      {"a stopped decode", [] { return KindOf([] { throw DecodeStopped(); }); },
       ErrorKind::Stopped},
      {"any other exception", [] { return KindOf([] { throw std::runtime_error("x"); }); },
       ErrorKind::Other},
  };
  for (const Case& c : cases) EXPECT_EQ(c.kind(), c.expected) << c.name;

  // A stop requested before the decode ends it as a stop, not as the file's error.
  std::stop_source stop;
  stop.request_stop();
  const RectangleTexts size{"15", "12"};
  EXPECT_EQ(KindOf([&] {
              AnalyseFile(good, {&size, 1}, Direction::Below, {}, {}, stop.get_token());
            }),
            ErrorKind::Stopped);
}

// With every descriptor the process may have in use, a file cannot be opened for want of one: the
// kind says so, though the message is the same "Cannot open file" as for any other reason.
TEST(ErrorKind, NoDescriptorLeftIsToldFromTheFilesOwnFailure) {
  // UndefinedBehaviorSanitizer's type checks read memory through a pipe: with no descriptor left
  // they take sound objects for bad ones.
  if (test::kSanitized) GTEST_SKIP() << "the sanitizers need descriptors of their own";
  const test::TempDir dir;
  const std::string good =
      test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(16, 16, 5, true));
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit low = before;
  low.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> taken;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  const int openError = errno;
  std::string message;
  ErrorKind kind = ErrorKind::Other;
  try {
    PictureFile file(good);
  } catch (const Error& e) {
    message = e.what();
    kind = e.kind();
  }
  for (const int fd : taken) ::close(fd);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);

  ASSERT_EQ(openError, EMFILE);
  EXPECT_EQ(kind, ErrorKind::OutOfDescriptors);
  EXPECT_EQ(message.rfind("Cannot open file \"", 0), 0u) << message;
  // The same file opens once descriptors are free again.
  EXPECT_NO_THROW(PictureFile{good});
}

}  // namespace
}  // namespace swelox
