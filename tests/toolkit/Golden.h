// Golden files: a text that must stay exactly as it is (the window's captions, a help text) is
// compared with a copy kept in tests/golden/, so that a change to it is one visible diff.
#pragma once

#include <string>

namespace swelox::test {

// Compares `actual` with the golden file tests/golden/NAME. Returns an empty string when they are
// equal, else where they first differ. With SWELOX_UPDATE_GOLDEN=1 in the environment it writes
// `actual` into the file instead (and returns an empty string): review the diff, then commit it.
std::string GoldenDifference(const std::string& name, const std::string& actual);

}  // namespace swelox::test
