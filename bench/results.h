#ifndef PORTWICK_BENCH_RESULTS_H_
#define PORTWICK_BENCH_RESULTS_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/stats.h"

namespace portwick::bench {

// Every value measured in one benchmark run, keyed by metric and by what was
// measured (direct, portwick, socat, haproxy). The driver script appends one
// line "METRIC TARGET VALUE" per measurement; '#' starts a comment line.
class Results {
 public:
  // Adds the lines of `text`. On a malformed line returns false and names the
  // line in `error`; lines before it are kept.
  bool Parse(std::string_view text, std::string* error);

  void Add(const std::string& metric, const std::string& target, double value);
  bool Has(const std::string& metric, const std::string& target) const;
  Summary Get(const std::string& metric, const std::string& target) const;

 private:
  std::map<std::pair<std::string, std::string>, std::vector<double>> values_;
};

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_RESULTS_H_
