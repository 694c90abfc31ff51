// Command scripts written and read back: whatever the window holds, the
// script must run the program alone (nothing else for the shell to do) and
// give back the same settings when its words are parsed as a command line.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "round_trip.h"
#include "run/command_script.h"

namespace {

using std::chrono::milliseconds;

milliseconds Duration(FuzzedDataProvider& input) {
  return milliseconds(
      input.ConsumeIntegralInRange<int64_t>(0, portwick::kMaxConditionDuration.count()));
}

portwick::SessionLimits Limits(FuzzedDataProvider& input) {
  portwick::SessionLimits limits;
  limits.connect_timeout = Duration(input);
  limits.idle_timeout = Duration(input);
  limits.max_sessions =
      input.ConsumeIntegralInRange<uint32_t>(0, portwick::SessionLimits::kMaxSessionsLimit);
  return limits;
}

// A condition the dialog or the command line could hold: only the fields its
// kind has, each within its range.
portwick::Condition MakeCondition(FuzzedDataProvider& input) {
  using portwick::ConditionKind;
  portwick::Condition condition;
  condition.direction =
      static_cast<portwick::ConditionDirection>(input.ConsumeIntegralInRange(0, 2));
  condition.kind = static_cast<ConditionKind>(input.ConsumeIntegralInRange(0, 5));
  condition.probability = input.ConsumeProbability<double>();
  const uint64_t least = condition.kind == ConditionKind::kCut ? 0 : 1;
  switch (condition.kind) {
    case ConditionKind::kDelay:
      condition.jitter = Duration(input);
      [[fallthrough]];
    case ConditionKind::kStall:
    case ConditionKind::kCloseDelay:
      condition.time = Duration(input);
      break;
    case ConditionKind::kSlice:
      condition.pause = Duration(input);
      [[fallthrough]];
    case ConditionKind::kRate:
    case ConditionKind::kCut:
      condition.bytes = input.ConsumeIntegralInRange(least, portwick::kMaxConditionBytes);
      if (condition.kind == ConditionKind::kCut && input.ConsumeBool()) {
        condition.end = portwick::CutEnd::kReset;
      }
      break;
  }
  return condition;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  portwick::CommandScriptValues values;
  // Ports as the window lets them through: 0..65535.
  values.local_port = input.ConsumeIntegralInRange<int>(0, 65535);
  values.remote_port = input.ConsumeIntegralInRange<int>(0, 65535);
  values.write_to_file = input.ConsumeBool();
  values.program_path = input.ConsumeRandomLengthString(64);
  values.bind_address = input.ConsumeRandomLengthString(64);
  values.remote_host = input.ConsumeRandomLengthString(64);
  values.limits = Limits(input);
  values.conditions.resize(input.ConsumeIntegralInRange<size_t>(0, 3));
  for (portwick::Condition& condition : values.conditions) condition = MakeCondition(input);
  values.log_file_name = input.ConsumeRemainingBytesAsString();
  portwick::fuzzing::CheckScriptRoundTrip(values);
  return 0;
}
