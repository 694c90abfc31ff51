#include "engine/conditions/condition.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace portwick {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Leading decimal digits of `text` as a number; the rest goes to `*rest`.
std::optional<uint64_t> LeadingNumber(std::string_view text, std::string_view* rest) {
  uint64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, number);
  if (failure != std::errc() || stop == text.data()) return std::nullopt;
  *rest = std::string_view(stop, static_cast<size_t>(end - stop));
  return number;
}

struct KindName {
  std::string_view name;
  ConditionKind kind;
};
constexpr std::array<KindName, 6> kKinds = {{
    {"delay", ConditionKind::kDelay},
    {"rate", ConditionKind::kRate},
    {"slice", ConditionKind::kSlice},
    {"cut", ConditionKind::kCut},
    {"stall", ConditionKind::kStall},
    {"close-delay", ConditionKind::kCloseDelay},
}};

std::string_view KindText(ConditionKind kind) {
  for (const KindName& entry : kKinds) {
    if (entry.kind == kind) return entry.name;
  }
  return "";
}

std::optional<ConditionDirection> ParseDirection(std::string_view text, std::string* error) {
  if (SameWord(text, "up")) return ConditionDirection::kUp;
  if (SameWord(text, "down")) return ConditionDirection::kDown;
  if (SameWord(text, "both")) return ConditionDirection::kBoth;
  Fail(error, "unknown direction " + Quoted(text) + ": up, down or both");
  return std::nullopt;
}

bool SetValue(Condition* condition, std::string_view value, std::string* error) {
  switch (condition->kind) {
    case ConditionKind::kDelay:
    case ConditionKind::kStall:
    case ConditionKind::kCloseDelay: {
      const std::optional<std::chrono::milliseconds> time = ParseDuration(value, error);
      if (!time) return false;
      condition->time = *time;
      return true;
    }
    case ConditionKind::kRate:
    case ConditionKind::kSlice:
    case ConditionKind::kCut:
      break;
  }
  const std::optional<uint64_t> bytes = ParseByteCount(value, error);
  if (!bytes) return false;
  // A cut at 0 ends the session at the first byte; a rate or slice of 0
  // would let nothing pass and never end (stall says that).
  if (*bytes == 0 && condition->kind != ConditionKind::kCut) {
    return Fail(error, std::string(KindText(condition->kind)) + " " + Quoted(value) +
                           " lets nothing pass: at least 1 (stall=0 stops a direction)");
  }
  condition->bytes = *bytes;
  return true;
}

std::optional<double> ParseProbability(std::string_view text, std::string* error) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || stop != end || text.empty() || !(value >= 0.0 && value <= 1.0)) {
    Fail(error, "probability " + Quoted(text) + " is not a number from 0 to 1");
    return std::nullopt;
  }
  return value;
}

bool SetOption(Condition* condition, std::string_view name, std::string_view value,
               std::string* error) {
  const ConditionKind kind = condition->kind;
  if (SameWord(name, "probability")) {
    const std::optional<double> probability = ParseProbability(value, error);
    if (!probability) return false;
    condition->probability = *probability;
    return true;
  }
  if (SameWord(name, "jitter") && kind == ConditionKind::kDelay) {
    const std::optional<std::chrono::milliseconds> jitter = ParseDuration(value, error);
    if (!jitter) return false;
    condition->jitter = *jitter;
    return true;
  }
  if (SameWord(name, "pause") && kind == ConditionKind::kSlice) {
    const std::optional<std::chrono::milliseconds> pause = ParseDuration(value, error);
    if (!pause) return false;
    condition->pause = *pause;
    return true;
  }
  if (SameWord(name, "end") && kind == ConditionKind::kCut) {
    if (SameWord(value, "fin")) {
      condition->end = CutEnd::kFin;
    } else if (SameWord(value, "reset")) {
      condition->end = CutEnd::kReset;
    } else {
      return Fail(error, "end " + Quoted(value) + ": fin or reset");
    }
    return true;
  }
  return Fail(error, Quoted(name) + " is not an option of " + std::string(KindText(kind)));
}

// Splits "name=value" at its first '='.
bool SplitPair(std::string_view text, std::string_view* name, std::string_view* value,
               std::string* error) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return Fail(error, Quoted(text) + " is not NAME=VALUE");
  }
  *name = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

std::string BytesText(uint64_t bytes) {
  constexpr std::array<std::pair<int, char>, 3> kUnits = {{{30, 'G'}, {20, 'M'}, {10, 'K'}}};
  for (const auto& [shift, unit] : kUnits) {
    const uint64_t size = uint64_t{1} << shift;
    if (bytes >= size && bytes % size == 0) return std::to_string(bytes >> shift) + unit;
  }
  return std::to_string(bytes);
}

}  // namespace

std::string_view DirectionText(ConditionDirection direction) {
  switch (direction) {
    case ConditionDirection::kUp:
      return "up";
    case ConditionDirection::kDown:
      return "down";
    case ConditionDirection::kBoth:
      break;
  }
  return "both";
}

std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text, std::string* error) {
  std::string_view unit;
  const std::optional<uint64_t> number = LeadingNumber(text, &unit);
  uint64_t scale = 0;
  if (number && unit.empty() && *number == 0) scale = 1;
  if (SameWord(unit, "ms")) scale = 1;
  if (SameWord(unit, "s")) scale = 1000;
  if (SameWord(unit, "m")) scale = 60 * 1000;
  if (!number || scale == 0) {
    Fail(error, "duration " + Quoted(text) + " is not a whole number with ms, s or m");
    return std::nullopt;
  }
  const uint64_t limit = static_cast<uint64_t>(kMaxConditionDuration.count());
  if (*number > limit / scale) {
    Fail(error, "duration " + Quoted(text) + " is longer than 24 hours");
    return std::nullopt;
  }
  return std::chrono::milliseconds(static_cast<int64_t>(*number * scale));
}

std::optional<uint64_t> ParseByteCount(std::string_view text, std::string* error) {
  std::string_view unit;
  const std::optional<uint64_t> number = LeadingNumber(text, &unit);
  int shift = -1;
  if (unit.empty()) shift = 0;
  if (SameWord(unit, "k")) shift = 10;
  if (SameWord(unit, "m")) shift = 20;
  if (SameWord(unit, "g")) shift = 30;
  if (!number || shift < 0) {
    Fail(error, "size " + Quoted(text) + " is not a whole number of bytes with K, M or G");
    return std::nullopt;
  }
  if (*number > (kMaxConditionBytes >> shift)) {
    Fail(error, "size " + Quoted(text) + " is larger than 1024G");
    return std::nullopt;
  }
  return *number << shift;
}

std::optional<Condition> ParseCondition(std::string_view text, std::string* error) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    Fail(error, Quoted(text) + " needs a direction first: up:, down: or both:");
    return std::nullopt;
  }
  Condition condition;
  const std::optional<ConditionDirection> direction = ParseDirection(text.substr(0, colon), error);
  if (!direction) return std::nullopt;
  condition.direction = *direction;

  std::string_view rest = text.substr(colon + 1);
  bool first = true;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    std::string_view name;
    std::string_view value;
    if (!SplitPair(item, &name, &value, error)) return std::nullopt;
    if (first) {
      const KindName* found = nullptr;
      for (const KindName& entry : kKinds) {
        if (SameWord(name, entry.name)) found = &entry;
      }
      if (found == nullptr) {
        Fail(error, "unknown condition " + Quoted(name) +
                        ": delay, rate, slice, cut, stall or close-delay");
        return std::nullopt;
      }
      condition.kind = found->kind;
      if (!SetValue(&condition, value, error)) return std::nullopt;
      first = false;
    } else if (!SetOption(&condition, name, value, error)) {
      return std::nullopt;
    }
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return condition;
}

std::string DurationText(std::chrono::milliseconds duration) {
  const int64_t ms = duration.count();
  if (ms == 0) return "0";
  if (ms % 60000 == 0) return std::to_string(ms / 60000) + "m";
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + "s";
  return std::to_string(ms) + "ms";
}

std::string SpokenDuration(std::chrono::milliseconds duration) {
  const int64_t ms = duration.count();
  if (ms < 1000) return std::to_string(ms) + " ms";
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (fraction.back() == '0') fraction.pop_back();
    text += "." + fraction;
  }
  return text + " s";
}

std::string ConditionText(const Condition& condition) {
  std::string text = std::string(DirectionText(condition.direction)) + ":" +
                     std::string(KindText(condition.kind)) + "=";
  switch (condition.kind) {
    case ConditionKind::kDelay:
    case ConditionKind::kStall:
    case ConditionKind::kCloseDelay:
      text += DurationText(condition.time);
      break;
    case ConditionKind::kRate:
    case ConditionKind::kSlice:
    case ConditionKind::kCut:
      text += BytesText(condition.bytes);
      break;
  }
  if (condition.kind == ConditionKind::kDelay && condition.jitter.count() != 0) {
    text += ",jitter=" + DurationText(condition.jitter);
  }
  if (condition.kind == ConditionKind::kSlice && condition.pause.count() != 0) {
    text += ",pause=" + DurationText(condition.pause);
  }
  if (condition.kind == ConditionKind::kCut && condition.end == CutEnd::kReset)
    text += ",end=reset";
  if (condition.probability != 1.0) {
    // The shortest text that reads back as the same number.
    std::array<char, 32> digits{};
    const auto result =
        std::to_chars(digits.data(), digits.data() + digits.size(), condition.probability);
    text += ",probability=" + std::string(digits.data(), result.ptr);
  }
  return text;
}

}  // namespace portwick
