#include "round_trip.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "run/proxy_settings.h"
#include "shell_words.h"

namespace portwick::fuzzing {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& script) {
  std::fprintf(stderr, "round trip: %s\nscript: [%s]\n", what, script.c_str());
  std::abort();
}

bool HoldsZero(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

void CheckScriptRoundTrip(const CommandScriptValues& values) {
  if (HoldsZero(values.program_path) || HoldsZero(values.bind_address) ||
      HoldsZero(values.remote_host) || HoldsZero(values.log_file_name)) {
    return;
  }
  const std::string script = BuildCommandScript(values);
  const std::optional<std::vector<std::string>> words = SplitShellWords(script);
  if (!words) Fail("the shell would do more than run the program", script);
  if (words->empty() || (*words)[0] != values.program_path) Fail("program path changed", script);

  ProxySettings settings;
  if (ParseCommandLine(*words, &settings, {}) != ParseStatus::kSuccess) {
    Fail("the command line does not parse", script);
  }
  ProxySettings expected;
  expected.local_port = values.local_port;
  expected.bind_address = values.bind_address;
  expected.remote_host = values.remote_host;
  expected.remote_port = values.remote_port;
  expected.limits = values.limits;
  expected.conditions = values.conditions;
  if (values.write_to_file) {
    expected.log_file_name = values.log_file_name;
    expected.autostart = true;
  }
  if (settings.local_port != expected.local_port) Fail("local port", script);
  if (settings.bind_address != expected.bind_address) Fail("bind address", script);
  if (settings.remote_host != expected.remote_host) Fail("remote host", script);
  if (settings.remote_port != expected.remote_port) Fail("remote port", script);
  if (settings.log_file_name != expected.log_file_name) Fail("log file name", script);
  if (settings.autostart != expected.autostart) Fail("start command", script);
  if (settings.limits != expected.limits) Fail("limits", script);
  if (settings.conditions != expected.conditions) Fail("conditions", script);
  if (!(settings == expected)) Fail("another setting changed", script);
}

}  // namespace portwick::fuzzing
