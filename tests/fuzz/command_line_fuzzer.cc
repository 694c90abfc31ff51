// The command-line parser on arbitrary arguments: it must not crash, must
// name the failing argument, must give the same result twice, and what it
// accepts must survive a command script written and read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "round_trip.h"
#include "run/command_script.h"

namespace {

// Arguments separated by zero bytes, after the program path.
std::vector<std::string> Arguments(const uint8_t* data, size_t size) {
  std::vector<std::string> args = {"portwick"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = Arguments(data, size);
  int helps = 0;
  portwick::ProxySettings settings;
  portwick::ParseFailure failure;
  const portwick::ParseStatus status = portwick::ParseCommandLine(
      args, &settings, [&] { ++helps; }, &failure);

  portwick::ProxySettings again;
  portwick::ParseFailure failure_again;
  const portwick::ParseStatus status_again =
      portwick::ParseCommandLine(args, &again, {}, &failure_again);
  if (status != status_again || !(settings == again)) std::abort();

  if (status == portwick::ParseStatus::kFailure) {
    bool named = false;
    for (size_t i = 1; i < args.size(); ++i) named = named || args[i] == failure.argument;
    if (!named || failure.argument != failure_again.argument) std::abort();
    return 0;
  }
  // What the window would save from these settings reads back the same.
  if (settings.local_port < 0 || settings.local_port > 65535 || settings.remote_port < 0 ||
      settings.remote_port > 65535) {
    return 0;
  }
  portwick::CommandScriptValues values;
  values.program_path = "/usr/bin/portwick";
  values.local_port = settings.local_port;
  values.bind_address = settings.bind_address;
  values.remote_host = settings.remote_host;
  values.remote_port = settings.remote_port;
  values.write_to_file = !settings.log_file_name.empty();
  values.log_file_name = settings.log_file_name;
  values.limits = settings.limits;
  values.conditions = settings.conditions;
  portwick::fuzzing::CheckScriptRoundTrip(values);
  return 0;
}
