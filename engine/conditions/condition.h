#ifndef PORTWICK_ENGINE_CONDITIONS_CONDITION_H_
#define PORTWICK_ENGINE_CONDITIONS_CONDITION_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace portwick {

// Which direction of a session a condition acts on.
enum class ConditionDirection : uint8_t {
  kUp,    // client to server
  kDown,  // server to client
  kBoth,
};

enum class ConditionKind : uint8_t {
  kDelay,       // every chunk held `time` (plus or minus `jitter`), order kept
  kRate,        // at most `bytes` per second
  kSlice,       // sent in pieces of at most `bytes`, `pause` between them
  kCut,         // after `bytes` the session ends with `end`
  kStall,       // from `time` after the session connected nothing more passes
  kCloseDelay,  // an end of stream is passed on `time` later
};

// How a cut ends the session.
enum class CutEnd : uint8_t { kFin, kReset };

// One traffic condition as the user gives it:
// DIR:KIND=VALUE[,OPTION=VALUE...]. A value type; any thread.
struct Condition {
  ConditionDirection direction = ConditionDirection::kBoth;
  ConditionKind kind = ConditionKind::kDelay;
  std::chrono::milliseconds time{0};    // delay, stall, close-delay
  uint64_t bytes = 0;                   // rate (per second), slice, cut
  std::chrono::milliseconds jitter{0};  // delay
  std::chrono::milliseconds pause{0};   // slice
  CutEnd end = CutEnd::kFin;            // cut
  // The share of sessions it acts on, drawn once per session.
  double probability = 1.0;

  friend bool operator==(const Condition&, const Condition&) = default;
};

// The largest duration and byte count taken; beyond them a value is taken
// for a mistake.
inline constexpr std::chrono::milliseconds kMaxConditionDuration = std::chrono::hours(24);
inline constexpr uint64_t kMaxConditionBytes = uint64_t{1} << 40;

// A whole number with the unit ms, s or m ("250ms", "5s", "2m"); "0" alone
// needs no unit. At most kMaxConditionDuration. On failure `*error` (when
// not null) says which text and why.
std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text, std::string* error);

// A whole number of bytes, optionally with K, M or G (powers of 1024, any
// case); at most kMaxConditionBytes.
std::optional<uint64_t> ParseByteCount(std::string_view text, std::string* error);

// "up", "down" or "both", as conditions are written.
std::string_view DirectionText(ConditionDirection direction);

// Reads "DIR:KIND=VALUE[,OPTION=VALUE...]" (names in any case). Refuses an
// unknown direction, kind or option, an option of another kind, negative,
// malformed or absurd values, a rate or slice of 0 and a probability outside
// 0..1, with a message that names the text at fault.
std::optional<Condition> ParseCondition(std::string_view text, std::string* error);

// The text ParseCondition reads back as `condition`: the shortest unit that
// is exact, options only where they differ from their defaults.
std::string ConditionText(const Condition& condition);

// "250ms", "5s", "2m", "0".
std::string DurationText(std::chrono::milliseconds duration);

// A duration for people, as the trace and the status say it: "100 ms",
// "5 s", "2.5 s", "90 s".
std::string SpokenDuration(std::chrono::milliseconds duration);

}  // namespace portwick

#endif  // PORTWICK_ENGINE_CONDITIONS_CONDITION_H_
