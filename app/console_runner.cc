#include "app/console_runner.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "app/connect_failure_reporter.h"
#include "app/stdout_pane.h"
#include "app/stop_signals.h"
#include "engine/descriptor_limit.h"
#include "run/endpoint_text.h"
#include "run/forwarding_run.h"
#include "run/run_settings_from.h"

namespace portwick {

std::optional<std::string> PortRangeError(const ProxySettings& settings) {
  const struct {
    const char* name;
    int value;
  } kPorts[] = {{"local", settings.local_port}, {"remote", settings.remote_port}};
  for (const auto& port : kPorts) {
    if (port.value < 0 || port.value > 65535) {
      return std::string("the ") + port.name + " port " + std::to_string(port.value) +
             " is outside 0..65535";
    }
  }
  return std::nullopt;
}

int RunConsoleCommandLine(const std::vector<std::string>& args) {
  const std::string help = HelpTextWithLineFeeds(ProgramName(args.empty() ? "" : args[0]));
  const auto print_help = [&help] {
    std::fputs(help.c_str(), stdout);
    std::fflush(stdout);
  };
  ProxySettings settings;
  ParseFailure failure;
  if (ParseCommandLine(args, &settings, print_help, &failure) == ParseStatus::kFailure) {
    if (failure.kind == ParseFailure::Kind::kHelpOption) {
      print_help();
      return 0;
    }
    if (failure.kind == ParseFailure::Kind::kBadValue) {
      std::fprintf(stderr, "%s: %s\n", kApplicationTitle, ParseFailureText(failure).c_str());
    } else {
      const char* what = failure.kind == ParseFailure::Kind::kUnknownCommand ? "command" : "option";
      std::fprintf(stderr, "%s: unknown %s '%s'\n", kApplicationTitle, what,
                   failure.argument.c_str());
    }
    std::fprintf(stderr, "%s: see 'portwick --help' for the options\n", kApplicationTitle);
    return kExitUsage;
  }
  if (const std::optional<std::string> error = PortRangeError(settings)) {
    std::fprintf(stderr, "%s: %s\n", kApplicationTitle, error->c_str());
    return kExitUsage;
  }
  if (!ParseBindAddress(settings.bind_address)) {
    std::fprintf(stderr, "%s: cannot listen on '%s': not an IPv4 or IPv6 address\n",
                 kApplicationTitle, settings.bind_address.c_str());
    return kExitUsage;
  }
  return RunConsole(settings);
}

namespace {

// Said once per process, from the accept thread that hit the limit.
void ReportDescriptorLimit(int error, long limit) {
  if (error == ENFILE) {
    std::fprintf(stderr,
                 "%s: the system's limit of open files is reached; new connections wait until "
                 "sessions end\n",
                 kApplicationTitle);
  } else {
    std::fprintf(stderr,
                 "%s: the limit of %ld open descriptors is reached; new connections wait until "
                 "sessions end\n",
                 kApplicationTitle, limit);
  }
}

}  // namespace

int RunConsole(const ProxySettings& settings) {
  if (!BlockStopSignals()) {
    std::fprintf(stderr, "%s: cannot block the stop signals\n", kApplicationTitle);
    return 1;
  }

  StdoutPane pane;
  ForwardingRun run;
  descriptor_limit::SetReachedHandler(&ReportDescriptorLimit);

  RunSettings run_settings = RunSettingsFrom(settings);
  run_settings.observer = std::make_shared<ConnectFailureReporter>(STDERR_FILENO);
  // Nothing in console mode shows captured sessions (the Sessions window
  // reads them), so keeping them would only hold memory and copy every byte.
  run_settings.outputs.capture_limit = 0;
  run_settings.outputs.trace_fd = STDOUT_FILENO;
  // Said at once (on the writers' thread), and counted in the exit code as a
  // lost log record is.
  auto pcap_failed = std::make_shared<std::atomic<bool>>(false);
  run_settings.outputs.on_pcap_failure = [file = settings.pcap_file,
                                          pcap_failed](const Status& status) {
    std::fprintf(stderr, "%s: cannot write the pcap file %s: %s\n", kApplicationTitle, file.c_str(),
                 status.reason().c_str());
    pcap_failed->store(true);
  };

  // Said once per run, when the first record can't be written.
  const std::string log_name = settings.log_file_name;
  run.SetLogLossListener([log_name](const Status& failure) {
    std::fprintf(stderr,
                 "%s: cannot write the traffic log file \"%s\" (%s); records that can't be "
                 "written are lost and counted\n",
                 kApplicationTitle, log_name.c_str(), failure.Message().c_str());
  });

  const Status started = run.Start(run_settings, &pane, {});
  if (!started.ok()) {
    if (started.kind() == Status::Kind::kPcap) {
      std::fprintf(stderr, "%s: cannot create the pcap file %s: %s\n", kApplicationTitle,
                   settings.pcap_file.c_str(), started.reason().c_str());
    } else if (settings.forwards.empty()) {
      const std::string where = settings.bind_address.empty()
                                    ? "port " + std::to_string(settings.local_port)
                                    : ListeningText(settings.bind_address, settings.local_port);
      std::fprintf(stderr, "%s: cannot listen on %s: %s\n", kApplicationTitle, where.c_str(),
                   started.reason().c_str());
    } else {
      // Named as the forwarding lines name it: number, then where it listens.
      const size_t failed = run.failed_forward();
      const ForwardSpec& forward = settings.forwards[failed];
      const std::string where = forward.bind_given
                                    ? forward.bind.ToString()
                                    : ListeningText(settings.bind_address, forward.bind.port());
      std::fprintf(stderr, "%s: forward %zu: cannot listen on %s: %s\n", kApplicationTitle,
                   failed + 1, where.c_str(), started.reason().c_str());
    }
    run.ReleaseSinks({});
    return 1;
  }
  if (settings.forwards.empty()) {
    std::fprintf(stderr, "%s: forwarding %s -> %s\n", kApplicationTitle,
                 ListeningText(settings.bind_address, run.BoundPort()).c_str(),
                 DestinationText(settings.remote_host, settings.remote_port).c_str());
  }
  for (size_t i = 0; i < settings.forwards.size(); ++i) {
    const ForwardSpec& forward = settings.forwards[i];
    const std::string listening = forward.bind_given
                                      ? run.BoundEndpoint(i).ToString()
                                      : ListeningText(settings.bind_address, run.BoundPort(i));
    std::fprintf(stderr, "%s: forward %zu: forwarding %s -> %s\n", kApplicationTitle, i + 1,
                 listening.c_str(),
                 DestinationText(forward.remote_host, forward.remote_port).c_str());
  }

  WaitForStopSignal();
  ExitAtNextStopSignal();
  // As the window's Stop command: the listener first, then the sinks, whose
  // release delivers what the queued ones still hold.
  const SinkRelease release = run.Stop({});
  if (!release.complete) {
    // Threads still block in the log's targets and use the pane: end here,
    // without destroying anything.
    std::fprintf(stderr, "%s: the log did not finish within %lld s: %s\n", kApplicationTitle,
                 static_cast<long long>(run.stop_time_limit().count() / 1000),
                 UndeliveredText(release).c_str());
    std::fflush(nullptr);
    _exit(1);
  }
  int code = 0;
  const LogLoss loss = run.log_loss();
  if (loss.records > 0) {
    std::fprintf(stderr,
                 "%s: %" PRIu64 " records (%" PRIu64
                 " bytes) could not be written to the log "
                 "file\n",
                 kApplicationTitle, loss.records, loss.bytes);
    code = 1;
  }
  if (pcap_failed->load()) {
    std::fprintf(stderr,
                 "%s: the pcap file %s ends with the last packet written before the failure\n",
                 kApplicationTitle, settings.pcap_file.c_str());
    code = 1;
  }
  return code;
}

}  // namespace portwick
