#include "ui/conditions_summary.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace portwick {

namespace {

// Exact: "64 KiB" only for a whole number of KiB, else "1500 B".
std::string Bytes(uint64_t bytes) {
  constexpr std::array<std::pair<int, const char*>, 3> kUnits = {
      {{30, " GiB"}, {20, " MiB"}, {10, " KiB"}}};
  for (const auto& [shift, unit] : kUnits) {
    const uint64_t size = uint64_t{1} << shift;
    if (bytes >= size && bytes % size == 0) return std::to_string(bytes >> shift) + unit;
  }
  return std::to_string(bytes) + " B";
}

std::string What(const Condition& c) {
  switch (c.kind) {
    case ConditionKind::kDelay:
      return "delay " + SpokenDuration(c.time) +
             (c.jitter.count() != 0 ? " \xC2\xB1" + SpokenDuration(c.jitter) : "");
    case ConditionKind::kRate:
      return "rate " + Bytes(c.bytes) + "/s";
    case ConditionKind::kSlice:
      return "slice " + Bytes(c.bytes) +
             (c.pause.count() != 0 ? " pause " + SpokenDuration(c.pause) : "");
    case ConditionKind::kCut:
      return "cut " + Bytes(c.bytes) + (c.end == CutEnd::kReset ? " reset" : "");
    case ConditionKind::kStall:
      return c.time.count() == 0 ? "stall" : "stall after " + SpokenDuration(c.time);
    case ConditionKind::kCloseDelay:
      return "close-delay " + SpokenDuration(c.time);
  }
  return "";
}

}  // namespace

std::string ConditionsSummary(std::span<const Condition> conditions) {
  std::string text;
  for (const Condition& condition : conditions) {
    if (!text.empty()) text += "; ";
    text += std::string(DirectionText(condition.direction)) + " " + What(condition);
    if (condition.probability != 1.0) {
      std::array<char, 32> percent{};
      std::snprintf(percent.data(), percent.size(), "%.3g", condition.probability * 100.0);
      text += " (" + std::string(percent.data()) + " %)";
    }
  }
  return text;
}

}  // namespace portwick
