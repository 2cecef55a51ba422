// Truncated files: every prefix of a JPEG either fails with a JPEG error or gives a row for the
// picture at its full size (libjpeg fills in the missing part). A prefix that ends before the
// scan header fails; one of a single-scan file that holds the scan header decodes; a file that
// lacks only its end marker gives the whole file's row.
#include <gtest/gtest.h>

#include <cctype>
#include <map>

#include "analysis/ImageAnalysis.h"
#include "core/IntegerText.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Bytes;
using test::TempDir;

struct PrefixCase {
  const char* name;
  const char* sample;  // a photo in examples/, or nullptr for a generated picture
  int32_t width, height;
  const char* cjpegOptions;
  bool greyscale;
  bool singleScan;  // so that any cut after the scan header leaves a decodable file
  size_t stride;    // past the header, every stride-th prefix (all of them up to the first scan)
};

void PrintTo(const PrefixCase& c, std::ostream* out) { *out << c.name; }

class EveryPrefix : public testing::TestWithParam<PrefixCase> {};

const std::vector<RectangleTexts> kSizes = {{"15", "12"}, {"3", "2"}};

// "error: JPEG error #" and the code's digits.
bool IsJpegError(const std::string& text) {
  const std::string start = "error: JPEG error #";
  if (text.rfind(start, 0) != 0 || text.size() == start.size()) return false;
  for (size_t i = start.size(); i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::string Outcome(const RowOutcome& outcome) {
  return outcome.error ? std::string("error: ") + outcome.error->what() : outcome.row;
}

TEST_P(EveryPrefix, GivesAJpegErrorOrTheFullSizeRow) {
  const PrefixCase& c = GetParam();
  TempDir dir;
  std::string source;
  if (c.sample != nullptr) {
    source = std::string(SWELOX_EXAMPLES) + "/" + c.sample;
  } else {
    source = test::EncodeWithCjpeg(dir, "source.jpg",
                                   test::RandomRaster(c.width, c.height, c.width, true),
                                   c.cjpegOptions, c.greyscale);
  }
  const Bytes jpeg = test::ReadBytes(source);
  const size_t scanData = test::ScanDataStart(jpeg);
  ASSERT_GT(jpeg.size(), scanData + 2);

  const std::string path = dir.File("cut.jpg");
  test::WriteBytes(path, jpeg);
  const std::vector<RowOutcome> whole = AnalyseFile(path, kSizes, Direction::Below);
  const std::string fullSize =
      FormatInteger(c.width - 2) + "\t" + FormatInteger(c.height - 2) + "\t";
  for (size_t k = 0; k < kSizes.size(); ++k) {
    ASSERT_EQ(Outcome(whole[k]).rfind(fullSize + kSizes[k].width + "\t", 0), 0u)
        << Outcome(whole[k]);
  }

  // The first prefixes fail in a known way: nothing at all, a lone 0xFF, the start marker alone.
  const std::map<size_t, std::string> known = {
      {0, "error: JPEG error #42"}, {1, "error: JPEG error #53"}, {2, "error: JPEG error #51"}};
  const size_t scanHeader = test::HeaderSegments(jpeg).back().start;
  size_t tried = 0;
  for (size_t length = 0; length <= jpeg.size(); ++length) {
    const bool last = length + 2 >= jpeg.size();
    if (length > scanData + c.stride && !last && (length - scanData) % c.stride != 0) continue;
    ++tried;
    test::WriteBytes(path, test::Prefix(jpeg, length));
    const std::vector<RowOutcome> outcomes = AnalyseFile(path, kSizes, Direction::Below);
    ASSERT_EQ(outcomes.size(), kSizes.size());
    for (size_t k = 0; k < kSizes.size(); ++k) {
      const std::string got = Outcome(outcomes[k]);
      SCOPED_TRACE(std::string(c.name) + ", first " + std::to_string(length) + " of " +
                   std::to_string(jpeg.size()) + " bytes, size " + kSizes[k].width + "x" +
                   kSizes[k].height + ": " + got);
      const bool isError = IsJpegError(got);
      if (isError) {
        // A decoding error is the file's, whatever the size.
        ASSERT_EQ(got, Outcome(outcomes[0]));
        if (known.count(length)) {
          ASSERT_EQ(got, known.at(length));
        }
      } else {
        // Otherwise the picture at its full size, however little of it the file holds.
        ASSERT_EQ(got.rfind(fullSize + kSizes[k].width + "\t" + kSizes[k].height + "\t", 0), 0u);
        ASSERT_TRUE(got.ends_with("\tcut.jpg"));
      }
      // No picture without its scan header; with it, a single-scan file always decodes.
      if (length < scanHeader) {
        ASSERT_TRUE(isError);
      }
      if (length >= scanData && c.singleScan) {
        ASSERT_FALSE(isError);
      }
      // Without its end marker, or with only part of it, the file decodes completely.
      if (last) {
        ASSERT_EQ(got, Outcome(whole[k]));
      }
    }
  }
  RecordProperty("prefixes", static_cast<int>(tried));
}

INSTANTIATE_TEST_SUITE_P(
    Files, EveryPrefix,
    testing::Values(
        PrefixCase{"sample", "by-the-water.jpg", 1500, 230, "", false, true, 97},
        PrefixCase{"baseline420", nullptr, 61, 45, "-quality 80 -sample 2x2", false, true, 1},
        PrefixCase{"progressive", nullptr, 61, 45, "-progressive", false, false, 1},
        PrefixCase{"restarts", nullptr, 50, 40, "-restart 1B -sample 2x1", false, true, 1},
        PrefixCase{"arithmetic", nullptr, 50, 40, "-arithmetic", false, true, 1},
        PrefixCase{"arithmeticProgressive", nullptr, 40, 33, "-arithmetic -progressive", false,
                   false, 1},
        PrefixCase{"grey", nullptr, 52, 37, "-grayscale", true, true, 1},
        PrefixCase{"greyProgressive", nullptr, 52, 37, "-grayscale -progressive", true, false, 1},
        PrefixCase{"plainRgb", nullptr, 40, 30, "-rgb -sample 1x1", false, true, 1}),
    [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace swelox
