#include "bench/stats.h"

#include <algorithm>
#include <cmath>

namespace portwick::bench {

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  // p * n first: p / 100 is inexact and could push an exact rank one up.
  double rank = std::ceil(p * static_cast<double>(values.size()) / 100.0);
  std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return values[std::min(index, values.size() - 1)];
}

Summary Summarize(std::vector<double> values) {
  Summary summary;
  if (values.empty()) return summary;
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  summary.count = static_cast<int>(n);
  summary.min = values.front();
  summary.max = values.back();
  summary.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return summary;
}

}  // namespace portwick::bench
