#ifndef PORTWICK_RUN_PROXY_SETTINGS_H_
#define PORTWICK_RUN_PROXY_SETTINGS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/endpoint.h"
#include "capture/trace_mode.h"
#include "engine/conditions/condition.h"
#include "engine/conditions/session_limits.h"

namespace portwick {

// One of several forwards of a console run (option forward).
struct ForwardSpec {
  // The address and port to listen on; without an address given, every IPv4
  // interface.
  Endpoint bind;
  bool bind_given = false;  // the address was part of the option
  std::string remote_host;
  uint16_t remote_port = 0;
  // The conditions given after this forward (option condition); they act
  // on its sessions only.
  std::vector<Condition> conditions;

  friend bool operator==(const ForwardSpec&, const ForwardSpec&) = default;
};

// The start values of one run, as given on the command line. Filled once by
// ParseCommandLine on the main thread before any other thread exists, then
// only read. Ports are not range-checked: only their low 16 bits reach the
// network.
struct ProxySettings {
  int local_port = 1999;
  // The address to listen on as given (option bind): an IPv4 or IPv6
  // literal, with or without brackets. Empty: every IPv4 interface.
  std::string bind_address;
  // A name or an address; an IPv6 literal comes without brackets from the
  // command line. Empty: this machine.
  std::string remote_host = "localhost";
  int remote_port = 2007;
  // Empty: no traffic log file.
  std::string log_file_name;
  // Start forwarding as soon as the program is up (commands start/listen).
  bool autostart = false;
  // "Log Synchronously" at start (option synch).
  bool log_synchronously = false;
  // "Show in Output" at start (option output; off with --output=off).
  bool show_in_output = true;
  // Run without a window (option console).
  bool console = false;
  // Print the version and end (option version).
  bool show_version = false;
  // The console trace on standard output, in place of the raw bytes
  // (option trace).
  TraceMode trace = TraceMode::kOff;
  // Write the sessions to this pcapng file (option pcap); empty: none.
  std::string pcap_file;
  // Memory for captured sessions, in bytes (option capture-limit); 0: none.
  uint64_t capture_limit = uint64_t{256} << 20;
  // Several forwards in one console run (option forward, repeatable); when
  // there are any, they replace source and destination.
  std::vector<ForwardSpec> forwards;
  // Traffic conditions given before any forward (option condition,
  // repeatable, in order): they act on every forward's sessions.
  std::vector<Condition> conditions;
  // Options connect-timeout, idle-timeout and max-sessions.
  SessionLimits limits;

  friend bool operator==(const ProxySettings&, const ProxySettings&) = default;
};

}  // namespace portwick

#endif  // PORTWICK_RUN_PROXY_SETTINGS_H_
