// Command scripts written and read back: whatever the window holds, the
// script must run the program alone (nothing else for the shell to do) and
// give back the same settings when its words are parsed as a command line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "round_trip.h"
#include "run/command_script.h"

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
  values.log_file_name = input.ConsumeRemainingBytesAsString();
  portwick::fuzzing::CheckScriptRoundTrip(values);
  return 0;
}
