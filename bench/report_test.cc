#include "bench/report.h"

#include <string>
#include <vector>

#include "bench/results.h"
#include "bench/stats.h"
#include "gtest/gtest.h"

namespace portwick::bench {
namespace {

TEST(StatsTest, NearestRankPercentiles) {
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);  // unsorted on purpose
  struct Case {
    std::vector<double> values;
    double p;
    double expected;
  };
  const Case cases[] = {
      {hundred, 50, 50},
      {hundred, 99, 99},
      {hundred, 100, 100},
      {hundred, 1, 1},
      {{7}, 99, 7},
      {{3, 1, 2}, 50, 2},
      {{1, 2, 3, 4}, 50, 2},
      {{}, 50, 0},
      // p99 of 1000 values is the 990th, not the 991st.
      {[] {
         std::vector<double> v;
         for (int i = 1; i <= 1000; ++i) v.push_back(i);
         return v;
       }(),
       99, 990},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Percentile(c.values, c.p), c.expected) << "p" << c.p << " of " << c.values.size();
  }
}

TEST(StatsTest, SummaryOfRepetitions) {
  Summary odd = Summarize({30, 10, 20});
  EXPECT_EQ(odd.count, 3);
  EXPECT_EQ(odd.median, 20);
  EXPECT_EQ(odd.min, 10);
  EXPECT_EQ(odd.max, 30);
  EXPECT_EQ(Summarize({4, 1, 3, 2}).median, 2.5);
  Summary none = Summarize({});
  EXPECT_EQ(none.count, 0);
  EXPECT_EQ(none.median, 0);
}

TEST(ResultsTest, ParsesLinesAndNamesTheFirstBadOne) {
  Results results;
  std::string error;
  ASSERT_TRUE(
      results.Parse("# comment\n\nup1 direct 100\nup1 direct 300\n  up1   direct\t200  \n", &error))
      << error;
  Summary up = results.Get("up1", "direct");
  EXPECT_EQ(up.count, 3);
  EXPECT_EQ(up.median, 200);
  EXPECT_FALSE(results.Has("up1", "socat"));

  for (const char* bad :
       {"up1 direct", "up1 direct 12x", "up1 direct 1 2", "up1 direct nan", "up1"}) {
    Results partial;
    error.clear();
    EXPECT_FALSE(partial.Parse(std::string("up8 socat 5\n") + bad + "\n", &error)) << bad;
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_TRUE(partial.Has("up8", "socat"));  // lines before the bad one stay
  }
}

Results Make(const std::vector<std::tuple<std::string, std::string, double>>& values) {
  Results results;
  for (const auto& [metric, target, value] : values) results.Add(metric, target, value);
  return results;
}

TEST(ReportTest, GoalsCompareMediansInTheMetricsDirection) {
  struct Case {
    const char* name;
    Results results;
    Goal goal;
    Verdict expected;
  };
  const Case cases[] = {
      {"exactly 1.1 x passes",
       Make({{"up1", "portwick", 110}, {"up1", "socat", 100}}),
       {"up1", "up1", "socat", 1.1, 0},
       Verdict::kPass},
      {"below 1.1 x misses",
       Make({{"up1", "portwick", 109}, {"up1", "socat", 100}}),
       {"up1", "up1", "socat", 1.1, 0},
       Verdict::kMiss},
      {"median, not best run",
       Make({{"up1", "portwick", 90},
             {"up1", "portwick", 95},
             {"up1", "portwick", 500},
             {"up1", "socat", 100}}),
       {"up1", "up1", "socat", 1.0, 0},
       Verdict::kMiss},
      {"lower latency passes",
       Make({{"pp_p99", "portwick", 40}, {"pp_p99", "socat", 50}}),
       {"pp_p99", "pp_p99", "socat", 1.0, 0},
       Verdict::kPass},
      {"higher latency misses",
       Make({{"pp_p99", "portwick", 60}, {"pp_p99", "socat", 50}}),
       {"pp_p99", "pp_p99", "socat", 1.0, 0},
       Verdict::kMiss},
      {"limit kept",
       Make({{"idle_kib", "portwick", 40}}),
       {"idle_kib", "", "", 0, 40},
       Verdict::kPass},
      {"limit passed",
       Make({{"idle_kib", "portwick", 40.5}}),
       {"idle_kib", "", "", 0, 40},
       Verdict::kMiss},
      {"thread left behind",
       Make({{"threads_after", "portwick", 4}, {"threads_before", "portwick", 3}}),
       {"threads_after", "threads_before", "portwick", 1, 0},
       Verdict::kMiss},
      {"peer not installed",
       Make({{"up1", "portwick", 110}}),
       {"up1", "up1", "haproxy", 0.8, 0},
       Verdict::kNotMeasured},
      {"portwick not measured",
       Make({{"up1", "socat", 110}}),
       {"up1", "up1", "socat", 1.1, 0},
       Verdict::kNotMeasured},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckGoal(c.results, c.goal).verdict, c.expected) << c.name;
  }
  EXPECT_EQ(CheckGoal(cases[0].results, cases[0].goal).text, ">= 1.1 x socat");
  EXPECT_EQ(CheckGoal(cases[3].results, cases[3].goal).text, "<= socat");
  EXPECT_EQ(CheckGoal(cases[5].results, cases[5].goal).text, "<= 40 KiB");
  EXPECT_EQ(CheckGoal(cases[7].results, cases[7].goal).text, "<= before");
}

TEST(ReportTest, FormatsFiguresToAReadablePrecision) {
  EXPECT_EQ(FormatNumber(1234.4), "1234");
  EXPECT_EQ(FormatNumber(99.95), "100.0");  // rounds up past the threshold, stays readable
  EXPECT_EQ(FormatNumber(12.34), "12.3");
  EXPECT_EQ(FormatNumber(0.456), "0.46");
  EXPECT_EQ(FormatNumber(-3), "-3");  // counts stay counts
  EXPECT_EQ(FormatNumber(2), "2");
  EXPECT_EQ(FormatNumber(-0.5), "-0.50");
}

TEST(ReportTest, TableShowsRangesRatiosAndOnlyMeasuredColumns) {
  Results results = Make({{"up1", "direct", 400},
                          {"up1", "portwick", 150},
                          {"up1", "portwick", 200},
                          {"up1", "portwick", 250},
                          {"up1", "socat", 100},
                          {"threads_before", "portwick", 3},
                          {"threads_after", "portwick", 3}});
  std::string table = RenderReport(results);
  EXPECT_NE(table.find("200 [150-250]"), std::string::npos) << table;
  EXPECT_NE(table.find("pw/direct"), std::string::npos);
  EXPECT_NE(table.find("0.500"), std::string::npos) << table;          // 200 / 400
  EXPECT_NE(table.find("2.000"), std::string::npos) << table;          // 200 / 100
  EXPECT_EQ(table.find("pw/haproxy"), std::string::npos) << table;     // not measured, no column
  EXPECT_EQ(table.find("8 connections"), std::string::npos) << table;  // nor a row
  EXPECT_NE(table.find("3 (before 3)"), std::string::npos) << table;
  std::size_t goal = table.find(">= 1.1 x socat");
  ASSERT_NE(goal, std::string::npos) << table;
  std::string line = table.substr(goal, table.find('\n', goal) - goal);
  EXPECT_EQ(line.substr(line.size() - 4), "PASS") << line;
  goal = table.find(">= 1.5 x haproxy");
  ASSERT_NE(goal, std::string::npos) << table;
  line = table.substr(goal, table.find('\n', goal) - goal);
  EXPECT_EQ(line.substr(line.size() - 3), "n/a") << line;
  goal = table.find(">= 0.7 x direct");  // 200 against 0.7 x 400
  ASSERT_NE(goal, std::string::npos) << table;
  line = table.substr(goal, table.find('\n', goal) - goal);
  EXPECT_EQ(line.substr(line.size() - 4), "MISS") << line;
  EXPECT_EQ(table.find("logging"), std::string::npos) << table;  // no logging figures, no table
}

TEST(ReportTest, LoggingTableRelatesEachModeToTheUnloggedFigure) {
  Results results = Make({{"log_off", "portwick", 1000},
                          {"log_file", "portwick", 700},
                          {"log_dd", "portwick", 800},
                          {"log_synch", "portwick", 499.6},
                          {"log_peak_mib", "portwick", 80}});
  std::string table = RenderReport(results);
  EXPECT_NE(table.find("0.700"), std::string::npos) << table;
  // Just under half must not print as 0.50 next to its MISS.
  EXPECT_NE(table.find("0.500"), std::string::npos) << table;
  EXPECT_EQ(table.find("0.50 "), std::string::npos) << table;
  int misses = 0;
  for (std::size_t at = table.find("MISS"); at != std::string::npos;
       at = table.find("MISS", at + 1))
    ++misses;
  // The queued file is judged against the lower of unlogged and storage:
  // 700 passes 0.8 x 800 though not 0.8 x 1000; 49.96 % < 50 % misses.
  EXPECT_EQ(misses, 1) << table;
  EXPECT_NE(table.find("<= 256 MiB"), std::string::npos) << table;
}

TEST(ReportTest, SessionOutputsAgainstTheUnloggedAndEarlierFigures) {
  Results results = Make({{"log_off", "portwick", 1000},
                          {"log_before", "portwick", 1100},
                          {"log_pcap", "portwick", 590}});
  const std::string table = RenderReport(results);
  struct Row {
    const char* goal;
    const char* verdict;
  };
  // 1000 < 0.95 x 1100; 590 < 600.
  const Row rows[] = {{">= 0.95 x no sink, the earlier build", "MISS"},
                      {">= 0.6 x no sink, no capture", "MISS"}};
  for (const Row& row : rows) {
    const size_t at = table.find(row.goal);
    ASSERT_NE(at, std::string::npos) << row.goal << "\n" << table;
    const std::string line = table.substr(at, table.find('\n', at) - at);
    EXPECT_EQ(line.substr(line.size() - 4), row.verdict) << line;
  }
  EXPECT_NE(table.find("0.590"), std::string::npos) << table;
}

TEST(ReportTest, ConditionFiguresAgainstTheirBands) {
  Results results = Make({{"cond_delay_p50", "portwick", 50.4},
                          {"cond_rate1", "portwick", 0.96},
                          {"cond_cut_bytes", "portwick", 4096},
                          {"cond_beside", "portwick", 0.95},
                          {"cond_plain_up1", "portwick", 2000}});
  const std::string table = RenderReport(results);
  struct Row {
    const char* label;
    const char* band;
    const char* verdict;
  };
  const Row rows[] = {{"added latency p50 (ms)", "49 to 51 ms", "PASS"},
                      {"achieved (MiB/s)", "0.97 to 1.03 MiB/s", "MISS"},
                      {"bytes the peer got", "= 4096", "PASS"},
                      {"beside conditioned / no conditions", ">= 0.90", "PASS"},
                      {"no conditions (MiB/s)", "2000", "2000"}};
  for (const Row& row : rows) {
    const size_t at = table.find(row.label);
    ASSERT_NE(at, std::string::npos) << row.label << "\n" << table;
    const std::string line = table.substr(at, table.find('\n', at) - at);
    EXPECT_NE(line.find(row.band), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with(row.verdict)) << line;
  }
}

}  // namespace
}  // namespace portwick::bench
