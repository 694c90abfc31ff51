#ifndef PORTWICK_BENCH_REPORT_H_
#define PORTWICK_BENCH_REPORT_H_

#include <string>
#include <string_view>

#include "bench/results.h"

namespace portwick::bench {

// The goals Portwick's figures are held against. The compared figure is
// always Portwick's median; `reference` is either a fixed `limit` (when
// `other_metric` is empty) or `factor` times the median of `other_metric`
// measured for `other_target`. Whether the figure must reach or stay under
// the reference follows from the metric (higher or lower is better).
struct Goal {
  std::string_view metric;
  std::string_view other_metric;
  std::string_view other_target;
  double factor = 1;
  double limit = 0;
  // When set, the goal is factor x the lower of the two others' medians.
  std::string_view second_metric = {};
  std::string_view second_target = {};
};

enum class Verdict { kPass, kMiss, kNotMeasured };

struct GoalCheck {
  std::string text;  // e.g. ">= 1.1 x socat"
  Verdict verdict = Verdict::kNotMeasured;
};

GoalCheck CheckGoal(const Results& results, const Goal& goal);

// A figure for a table cell: whole numbers and figures from 100 up without
// decimals, one decimal from 10, else two.
std::string FormatNumber(double value);

// The two tables (forwarders side by side; Portwick's logging modes) with
// medians, ranges, ratios and goal verdicts, as printed by the benchmark.
std::string RenderReport(const Results& results);

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_REPORT_H_
