#include "bench/report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace portwick::bench {

namespace {

constexpr std::string_view kPortwick = "portwick";
constexpr std::string_view kTargets[] = {"direct", "portwick", "socat", "haproxy"};

struct MetricInfo {
  std::string_view id;
  std::string_view label;
  std::string_view unit;
  bool higher_is_better;
  std::string_view baseline;  // shown as "(before X)" in the same cell
};

constexpr MetricInfo kForwardingMetrics[] = {
    {"up1", "throughput client->server, 1 connection", "MiB/s", true, ""},
    {"up8", "throughput client->server, 8 connections", "MiB/s", true, ""},
    {"down1", "throughput server->client, 1 connection", "MiB/s", true, ""},
    {"down8", "throughput server->client, 8 connections", "MiB/s", true, ""},
    {"pp_p50", "ping-pong 1 byte, p50", "us", false, ""},
    {"pp_p99", "ping-pong 1 byte, p99", "us", false, ""},
    {"pin_p50", "ping-pong 1 byte, p50, all on CPU 0", "us", false, ""},
    {"pin_p99", "ping-pong 1 byte, p99, all on CPU 0", "us", false, ""},
    {"cps1", "short connections, 1 client", "conn/s", true, ""},
    {"cps8", "short connections, 8 clients", "conn/s", true, ""},
    {"slow1", "slowest short connection, 1 client", "ms", false, ""},
    {"slow8", "slowest short connection, 8 clients", "ms", false, ""},
    {"rr8_rps", "small request/reply, 8 connections", "exchanges/s", true, ""},
    {"rr8_p99", "small request/reply, 8 connections, p99", "us", false, ""},
    {"rr64_rps", "small request/reply, 64 connections", "exchanges/s", true, ""},
    {"rr64_p99", "small request/reply, 64 connections, p99", "us", false, ""},
    {"idle_kib", "resident memory per idle session, 1,000 sessions", "KiB", false, ""},
    {"idle10k_kib", "resident memory per idle session, 10,000 sessions (or as many as fit)", "KiB",
     false, ""},
    {"threads_after", "threads at idle after the tests", "", false, "threads_before"},
    {"fds_after", "descriptors at idle after the tests", "", false, "fds_before"},
};

constexpr MetricInfo kLoggingMetrics[] = {
    {"log_off", "no sink, no capture (--output=off --capture-limit=0)", "MiB/s", true, ""},
    {"log_before", "no sink, the earlier build given with --before", "MiB/s", true, ""},
    {"log_file", "queued file", "MiB/s", true, ""},
    {"log_off8", "no sink, 8 connections", "MiB/s", true, ""},
    {"log_file8", "queued file, 8 connections", "MiB/s", true, ""},
    {"log_synch", "synchronous file (--synch)", "MiB/s", true, ""},
    {"log_stdout", "queued output to /dev/null", "MiB/s", true, ""},
    {"log_trace", "hex trace to /dev/null (--trace=hex)", "MiB/s", true, ""},
    {"log_pcap", "pcapng file (--pcap)", "MiB/s", true, ""},
    {"log_disk", "reference: plain 10384-byte appends to a file there", "MiB/s", true, ""},
    {"log_dd", "storage: sustained appends there (dd conv=fdatasync)", "MiB/s", true, ""},
    {"log_idle_kib", "queued file: resident memory per idle session, 1,000 sessions", "KiB", false,
     ""},
    {"log_idle_threads", "queued file: threads per idle session, 1,000 sessions", "", false, ""},
    {"log_peak_mib", "peak RSS while logging to a file", "MiB", false, ""},
    {"log_peak_seconds", "duration of that transfer", "s", false, ""},
    {"log_peak_gib", "size of that transfer", "GiB", true, ""},
};

constexpr Goal kGoals[] = {
    {"up1", "up1", "socat", 1.1, 0},
    {"up1", "up1", "haproxy", 1.5, 0},
    {"up1", "up1", "direct", 0.7, 0},
    {"down1", "down1", "socat", 1.1, 0},
    {"down1", "down1", "haproxy", 1.5, 0},
    {"down1", "down1", "direct", 0.7, 0},
    {"up8", "up8", "haproxy", 1.5, 0},
    {"down8", "down8", "haproxy", 1.5, 0},
    {"pp_p50", "pp_p50", "haproxy", 1.0, 0},
    {"pp_p99", "pp_p99", "socat", 1.0, 0},
    {"pp_p99", "pp_p99", "haproxy", 1.0, 0},
    {"pin_p50", "pin_p50", "haproxy", 1.0, 0},
    {"pin_p99", "pin_p99", "socat", 1.0, 0},
    {"pin_p99", "pin_p99", "haproxy", 1.0, 0},
    {"cps1", "cps1", "socat", 2.5, 0},
    {"cps1", "cps1", "haproxy", 1.1, 0},
    {"cps8", "cps8", "socat", 2.5, 0},
    {"cps8", "cps8", "haproxy", 1.1, 0},
    {"slow8", "slow8", "haproxy", 2.0, 0},
    {"rr8_rps", "rr8_rps", "haproxy", 1.1, 0},
    {"rr8_p99", "rr8_p99", "haproxy", 1.0, 0},
    {"rr64_rps", "rr64_rps", "haproxy", 1.1, 0},
    {"rr64_p99", "rr64_p99", "haproxy", 1.0, 0},
    {"idle_kib", "", "", 0, 16},
    {"idle10k_kib", "", "", 0, 16},
    {"threads_after", "threads_before", "portwick", 1.0, 0},
    {"fds_after", "fds_before", "portwick", 1.0, 0},
    {"log_file", "log_off", "portwick", 0.8, 0, "log_dd", "portwick"},
    {"log_file8", "log_off8", "portwick", 0.8, 0, "log_dd", "portwick"},
    {"log_idle_kib", "", "", 0, 4},
    {"log_idle_threads", "", "", 0, 0.25},
    {"log_file", "up1", "haproxy", 0.8, 0},
    {"log_file8", "up8", "haproxy", 0.8, 0},
    {"log_off", "log_before", "portwick", 0.95, 0},
    {"log_pcap", "log_off", "portwick", 0.6, 0},
    {"log_synch", "log_off", "portwick", 0.5, 0},
    {"log_peak_mib", "", "", 0, 256},
};

// A traffic condition's figure and the band Portwick's median must fall in
// (`low` = `high` for an exact figure; no band: shown for information).
struct ConditionFigure {
  std::string_view id;
  std::string_view label;
  std::string_view unit;
  double low;
  double high;
};

constexpr double kNoLimit = 1e300;
constexpr double kNoBand = -1;

constexpr ConditionFigure kConditionFigures[] = {
    {"cond_delay_p50", "delay 50 ms one way, ping-pong: added latency p50", "ms", 49, 51},
    {"cond_delay_p99", "delay 50 ms one way, ping-pong: added latency p99", "ms", 47, 53},
    {"cond_rate1", "rate 1 MiB/s, 10 s upload: achieved", "MiB/s", 0.97, 1.03},
    {"cond_rate100", "rate 100 MiB/s, 10 s upload: achieved", "MiB/s", 97, 103},
    {"cond_slice_segments",
     "slice 1 byte, 64 KiB down: data segments the peer got (retransmitted ones too)", "", 65536,
     kNoLimit},
    {"cond_slice_reads", "slice 1 byte, 64 KiB down: reads the peer made", "", kNoBand, kNoBand},
    {"cond_cut_bytes", "cut 4096 with a reset: bytes the peer got", "", 4096, 4096},
    {"cond_cut_reset", "cut 4096 with a reset: then a reset (1 yes, 0 no)", "", 1, 1},
    {"cond_connect_s", "connect time-out 2 s, SYNs dropped: client closed after", "s", 1.9, 2.1},
    {"cond_plain_up1", "upload, 1 connection, no conditions", "MiB/s", kNoBand, kNoBand},
    {"cond_beside_up1", "the same beside conditioned sessions", "MiB/s", kNoBand, kNoBand},
    {"cond_beside", "beside conditioned / no conditions", "", 0.9, kNoLimit},
};

std::string BandText(const ConditionFigure& figure) {
  if (figure.low == kNoBand) return "";
  std::string unit = figure.unit.empty() ? "" : " " + std::string(figure.unit);
  if (figure.low == figure.high) return "= " + FormatNumber(figure.low) + unit;
  if (figure.high == kNoLimit) return ">= " + FormatNumber(figure.low) + unit;
  return FormatNumber(figure.low) + " to " + FormatNumber(figure.high) + unit;
}

const MetricInfo* FindMetric(std::string_view id) {
  for (const MetricInfo& info : kForwardingMetrics) {
    if (info.id == id) return &info;
  }
  for (const MetricInfo& info : kLoggingMetrics) {
    if (info.id == id) return &info;
  }
  return nullptr;
}

std::string Str(std::string_view text) { return std::string(text); }

std::string Cell(const Results& results, const MetricInfo& info, std::string_view target) {
  if (!results.Has(Str(info.id), Str(target))) return "-";
  Summary summary = results.Get(Str(info.id), Str(target));
  std::string cell = FormatNumber(summary.median);
  if (summary.count > 1 && summary.min != summary.max) {
    cell += " [" + FormatNumber(summary.min) + "-" + FormatNumber(summary.max) + "]";
  }
  if (!info.baseline.empty() && results.Has(Str(info.baseline), Str(target))) {
    cell += " (before " + FormatNumber(results.Get(Str(info.baseline), Str(target)).median) + ")";
  }
  return cell;
}

std::string Ratio(const Results& results, std::string_view metric, std::string_view target,
                  std::string_view other_metric, std::string_view other_target) {
  if (!results.Has(Str(metric), Str(target)) ||
      !results.Has(Str(other_metric), Str(other_target))) {
    return "-";
  }
  double other = results.Get(Str(other_metric), Str(other_target)).median;
  if (other == 0) return "-";
  // Three decimals below 10, so that a ratio just under a goal's factor
  // (0.498 against 0.5) doesn't print as the factor itself.
  double ratio = results.Get(Str(metric), Str(target)).median / other;
  char text[32];
  std::snprintf(text, sizeof(text), "%.*f", ratio >= 100 ? 0 : ratio >= 10 ? 1 : 3, ratio);
  return text;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "PASS";
    case Verdict::kMiss:
      return "MISS";
    case Verdict::kNotMeasured:
      break;
  }
  return "n/a";
}

// Appends one row per goal of `metric` (at least one row), each with the
// goal and its verdict in the last two columns.
void AddRows(const Results& results, const std::vector<std::string>& cells, std::string_view metric,
             std::vector<std::vector<std::string>>* rows) {
  bool first = true;
  for (const Goal& goal : kGoals) {
    if (goal.metric != metric) continue;
    GoalCheck check = CheckGoal(results, goal);
    std::vector<std::string> row = first ? cells : std::vector<std::string>(cells.size());
    row.push_back(check.text);
    row.push_back(VerdictText(check.verdict));
    rows->push_back(std::move(row));
    first = false;
  }
  if (first) {
    std::vector<std::string> row = cells;
    row.insert(row.end(), {"", ""});
    rows->push_back(std::move(row));
  }
}

std::string RenderTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string out;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t i = 0; i < rows[r].size(); ++i) {
      line += rows[r][i];
      if (i + 1 < rows[r].size()) line += std::string(widths[i] - rows[r][i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
    if (r == 0) {
      std::size_t total = 0;
      for (std::size_t width : widths) total += width + 2;
      out += std::string(total - 2, '-') + "\n";
    }
  }
  return out;
}

std::string Label(const MetricInfo& info) {
  return info.unit.empty() ? Str(info.label) : Str(info.label) + " (" + Str(info.unit) + ")";
}

}  // namespace

std::string FormatNumber(double value) {
  char text[32];
  double magnitude = value < 0 ? -value : value;
  bool whole = magnitude < 1e15 && value == static_cast<double>(static_cast<long long>(value));
  int decimals = whole || magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : 2;
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

GoalCheck CheckGoal(const Results& results, const Goal& goal) {
  GoalCheck check;
  const MetricInfo* info = FindMetric(goal.metric);
  bool higher = info == nullptr || info->higher_is_better;
  const char* relation = higher ? ">=" : "<=";
  double reference = goal.limit;
  bool measured = results.Has(Str(goal.metric), Str(kPortwick));
  if (goal.other_metric.empty()) {
    check.text = std::string(relation) + " " + FormatNumber(goal.limit);
    if (info != nullptr && !info->unit.empty()) check.text += " " + Str(info->unit);
  } else {
    const MetricInfo* other_info = FindMetric(goal.other_metric);
    std::string other = goal.other_metric == goal.metric ? Str(goal.other_target)
                        : info != nullptr && info->baseline == goal.other_metric ? "before"
                        : other_info != nullptr ? Str(other_info->label)
                                                : Str(goal.other_metric);
    char factor[32];
    std::snprintf(factor, sizeof(factor), "%g x ", goal.factor);
    check.text = std::string(relation) + " " + (goal.factor == 1 ? "" : factor) + other;
    measured = measured && results.Has(Str(goal.other_metric), Str(goal.other_target));
    if (measured)
      reference = goal.factor * results.Get(Str(goal.other_metric), Str(goal.other_target)).median;
    if (!goal.second_metric.empty()) {
      const MetricInfo* second_info = FindMetric(goal.second_metric);
      check.text += " or " +
                    (second_info != nullptr ? Str(second_info->label) : Str(goal.second_metric)) +
                    ", the lower";
      measured = measured && results.Has(Str(goal.second_metric), Str(goal.second_target));
      if (measured) {
        reference = std::min(
            reference,
            goal.factor * results.Get(Str(goal.second_metric), Str(goal.second_target)).median);
      }
    }
  }
  if (!measured) return check;
  double value = results.Get(Str(goal.metric), Str(kPortwick)).median;
  // A figure exactly on the goal passes, whatever the last bit of factor x other.
  double slack = 1e-9 * (reference < 0 ? -reference : reference);
  check.verdict = (higher ? value >= reference - slack : value <= reference + slack)
                      ? Verdict::kPass
                      : Verdict::kMiss;
  return check;
}

std::string RenderReport(const Results& results) {
  std::vector<std::string_view> targets;
  for (std::string_view target : kTargets) {
    for (const MetricInfo& info : kForwardingMetrics) {
      if (results.Has(Str(info.id), Str(target))) {
        targets.push_back(target);
        break;
      }
    }
  }
  std::vector<std::string> header{"figure"};
  for (std::string_view target : targets) header.push_back(Str(target));
  for (std::string_view target : targets) {
    if (target != kPortwick) header.push_back("pw/" + Str(target));
  }
  header.insert(header.end(), {"goal (portwick)", "result"});
  std::vector<std::vector<std::string>> rows{header};
  for (const MetricInfo& info : kForwardingMetrics) {
    bool measured = false;
    for (std::string_view target : targets)
      measured = measured || results.Has(Str(info.id), Str(target));
    if (!measured) continue;
    std::vector<std::string> cells{Label(info)};
    for (std::string_view target : targets) cells.push_back(Cell(results, info, target));
    for (std::string_view target : targets) {
      if (target == kPortwick) continue;
      cells.push_back(info.baseline.empty() ? Ratio(results, info.id, kPortwick, info.id, target)
                                            : "-");
    }
    AddRows(results, cells, info.id, &rows);
  }
  std::string out =
      "Forwarding: median [min-max] over the repetitions; pw/X = portwick's median / X's\n\n";
  out += RenderTable(rows);

  std::vector<std::vector<std::string>> logging{
      {"portwick logging (client->server; 1 connection unless said)", "figure", "vs unlogged",
       "vs haproxy unlogged", "goal", "result"}};
  bool any = false;
  for (const MetricInfo& info : kLoggingMetrics) {
    if (!results.Has(Str(info.id), Str(kPortwick))) continue;
    any = true;
    const bool eight = info.id.ends_with('8');
    const bool speed = info.unit == "MiB/s" && info.id != "log_disk" && info.id != "log_dd";
    std::vector<std::string> cells{
        Label(info), Cell(results, info, kPortwick),
        speed ? Ratio(results, info.id, kPortwick, eight ? "log_off8" : "log_off", kPortwick) : "-",
        speed ? Ratio(results, info.id, kPortwick, eight ? "up8" : "up1", "haproxy") : "-"};
    AddRows(results, cells, info.id, &logging);
  }
  if (any) out += "\n" + RenderTable(logging);

  std::vector<std::vector<std::string>> conditions{
      {"traffic conditions (portwick)", "figure", "target", "result"}};
  for (const ConditionFigure& figure : kConditionFigures) {
    if (!results.Has(Str(figure.id), Str(kPortwick))) continue;
    const MetricInfo info{figure.id, figure.label, figure.unit, true, ""};
    std::string verdict;
    if (figure.low != kNoBand) {
      const double median = results.Get(Str(figure.id), Str(kPortwick)).median;
      verdict = VerdictText(median >= figure.low && median <= figure.high ? Verdict::kPass
                                                                          : Verdict::kMiss);
    }
    conditions.push_back(
        {Label(info), Cell(results, info, kPortwick), BandText(figure), std::move(verdict)});
  }
  if (conditions.size() > 1) out += "\n" + RenderTable(conditions);
  return out;
}

}  // namespace portwick::bench
