// The region of each picture to analyse, as the user writes it: WxH+X+Y.
#pragma once

#include <optional>
#include <string>

#include "imaging/PixelRegion.h"

namespace swelox {

// Reads "WxH+X+Y" (decimal W, H >= 1 and X, Y >= 0; "+X+Y" may be left out for +0+0). Text of
// spaces only, or none, is no region: the whole picture. Anything else raises
// "'%s' is not a valid region (WxH+X+Y)" with the text, as a settings error.
std::optional<PixelRegion> ParseRegion(const std::string& text);

}  // namespace swelox
