#include "analysis/Quality.h"

namespace swelox {

Quality RowQuality(int64_t nDiffs, bool damaged) {
  if (nDiffs == 0) return Quality::None;
  return damaged ? Quality::Damaged : Quality::Ok;
}

const char* QualityName(Quality quality) {
  switch (quality) {
    case Quality::Damaged:
      return "damaged";
    case Quality::None:
      return "none";
    case Quality::Ok:
      break;
  }
  return "ok";
}

}  // namespace swelox
