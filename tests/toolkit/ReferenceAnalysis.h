// A plain, literal computation of the grid and the noise figures, step by step as the rules read:
// a whole grid, every block re-added cell by cell, a list of differences, the walk in its own
// order. Slow, and the yardstick for the streaming engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/RectangleStatistics.h"
#include "toolkit/TestImages.h"

namespace swelox::test {

using Grid = std::vector<std::vector<int32_t>>;

// height + 1 rows of width + 1 cells; cell [y - 1][x - 1] is the brightness of pixel (x, y).
Grid ReferenceGrid(const Raster& raster);

// The figures, or an Error with the message the rules give.
NoiseFigures ReferenceStatistics(const Grid& grid, int32_t width, int32_t height, int32_t w,
                                 int32_t h, Direction direction);

// The row for a picture, or "error: MESSAGE".
std::string ReferenceRow(const Raster& raster, int32_t w, int32_t h, Direction direction,
                         const std::string& name);

}  // namespace swelox::test
