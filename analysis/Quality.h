// What a row is worth: its figures are sound, they come from a photo whose data the decoder found
// cut or corrupt and filled in, or there are none (no two rectangles could be compared).
#pragma once

#include <cstdint>

namespace swelox {

enum class Quality { Ok, Damaged, None };

// A row without comparisons is `None` even for a damaged photo: it has no figures to doubt, and
// its zeros must never read as a calm sea.
Quality RowQuality(int64_t nDiffs, bool damaged);

// "ok", "damaged", "none": the text of the Quality column.
const char* QualityName(Quality quality);

}  // namespace swelox
