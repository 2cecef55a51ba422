// Reading a picture file for decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace swelox {

// The whole file, for decoding. Raises "Cannot open file "%s". %s" (absolute path, the system's
// reason) for a file that cannot be opened or is not a regular file, "Stream read error" when
// fewer bytes arrive than the file holds.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace swelox
