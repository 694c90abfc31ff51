#ifndef PORTWICK_BENCH_STATS_H_
#define PORTWICK_BENCH_STATS_H_

#include <vector>

namespace portwick::bench {

// Nearest-rank percentile (0 < p <= 100) of `values`: the smallest value with
// at least p % of the values at or below it. 0 for an empty set.
double Percentile(std::vector<double> values, double p);

// Median, minimum and maximum of repeated measurements. The median of an even
// count is the mean of the two middle values. All 0 for an empty set.
struct Summary {
  int count = 0;
  double median = 0;
  double min = 0;
  double max = 0;
};
Summary Summarize(std::vector<double> values);

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_STATS_H_
