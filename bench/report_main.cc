// Prints the benchmark tables from a results file ("METRIC TARGET VALUE"
// lines, as bench/run.sh writes them).
//
//   portwick_bench_report RESULTS_FILE

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/report.h"
#include "bench/results.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: portwick_bench_report RESULTS_FILE\n");
    return 1;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "portwick_bench_report: cannot read %s\n", argv[1]);
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  portwick::bench::Results results;
  std::string error;
  if (!results.Parse(text.str(), &error)) {
    std::fprintf(stderr, "portwick_bench_report: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::fputs(portwick::bench::RenderReport(results).c_str(), stdout);
  return 0;
}
