#include "run/run_settings_from.h"

#include <utility>
#include <vector>

#include "run/endpoint_text.h"

namespace portwick {

RunSettings RunSettingsFrom(const ProxySettings& settings) {
  RunSettings run;
  const Endpoint bind_address = ParseBindAddress(settings.bind_address).value_or(Endpoint());
  run.log.write_to_file = !settings.log_file_name.empty();
  run.log.log_file_name = settings.log_file_name;
  // The trace takes standard output instead of the raw bytes.
  run.log.show_in_output = settings.show_in_output && settings.trace == TraceMode::kOff;
  run.log.log_synchronously = settings.log_synchronously;
  run.outputs.capture_limit = settings.capture_limit;
  run.outputs.trace = settings.trace;
  run.outputs.pcap_file = settings.pcap_file;
  run.limits = settings.limits;
  if (settings.forwards.empty()) {
    // One forward from source and destination; only the low 16 bits of the
    // ports reach the network.
    Endpoint bind = bind_address;
    bind.set_port(static_cast<uint16_t>(settings.local_port & 0xFFFF));
    run.forwards.push_back({bind, RemoteHostForRun(settings.remote_host),
                            static_cast<uint16_t>(settings.remote_port & 0xFFFF),
                            settings.conditions});
  }
  for (const ForwardSpec& forward : settings.forwards) {
    // Without an address of its own a forward listens where --bind says.
    Endpoint bind = forward.bind;
    if (!forward.bind_given) {
      bind = bind_address;
      bind.set_port(forward.bind.port());
    }
    // The conditions given before any forward act on all of them, then its own.
    std::vector<Condition> conditions = settings.conditions;
    conditions.insert(conditions.end(), forward.conditions.begin(), forward.conditions.end());
    run.forwards.push_back({bind, forward.remote_host, forward.remote_port, std::move(conditions)});
  }
  return run;
}

}  // namespace portwick
