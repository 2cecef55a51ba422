#include "toolkit/Golden.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace swelox::test {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::string GoldenDifference(const std::string& name, const std::string& actual) {
  const std::string path = std::string(SWELOX_GOLDEN) + "/" + name;
  const char* update = std::getenv("SWELOX_UPDATE_GOLDEN");
  if (update != nullptr && std::string_view(update) == "1") {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << actual;
    out.close();
    return out ? std::string() : "cannot write " + path;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return "no golden file " + path + " (SWELOX_UPDATE_GOLDEN=1 makes it)";
  const std::string expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (expected == actual) return {};

  const std::vector<std::string> want = SplitLines(expected), got = SplitLines(actual);
  size_t line = 0;
  while (line < std::min(want.size(), got.size()) && want[line] == got[line]) ++line;
  auto shown = [](const std::vector<std::string>& lines, size_t at) {
    return at < lines.size() ? "\"" + lines[at] + "\"" : std::string("(no line)");
  };
  std::string message = path + " differs at line " + std::to_string(line + 1) +
                        ":\n  golden: " + shown(want, line) + "\n  actual: " + shown(got, line);
  if (line == want.size() && line == got.size()) message += " (only the last line feed differs)";
  return message + "\n(SWELOX_UPDATE_GOLDEN=1 rewrites the file from the actual text)";
}

}  // namespace swelox::test
