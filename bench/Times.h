// A benchmark's timings of one step, in milliseconds: their median and their worst.
#pragma once

#include <algorithm>
#include <vector>

namespace swelox::bench {

struct Times {
  std::vector<double> ms;
  void Add(double t) { ms.push_back(t); }
  double Median() {
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[ms.size() / 2];
  }
  double Most() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

}  // namespace swelox::bench
