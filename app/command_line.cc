#include "app/command_line.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "run/number_text.h"

namespace portwick {

const char kHelpText[] =
    " Portwick command line:\r\n"
    "\r\n"
    "\tportwick options [COMMAND]\r\n"
    "\r\n"
    " Available commands:\r\n"
    "\t start - start listen sockets\r\n"
    "\t help - to show this quick help\r\n"
    "  options:    \r\n"
    "    --source=port  :    specify source port \r\n"
    "                  (default: 1999)\r\n"
    "    --destination=address:port  :    specify destination address and port \r\n"
    "                  (default: localhost:2007)\r\n"
    "    --bind=address  :    listen on this local address only \r\n"
    "                  (default: every IPv4 interface; :: adds IPv6)\r\n"
    "    --filename=file  :    write the traffic to this log file \r\n"
    "                  (default: none)\r\n"
    "    --synch  :    log synchronously \r\n"
    "                  (default: off)\r\n"
    "    --output=on|off  :    show the traffic in the output \r\n"
    "                  (default: on)\r\n"
    "    --console  :    run without a window and start forwarding at once \r\n"
    "    --version  :    print the version and end \r\n"
    "    --trace[=text|hex|events]  :    show the sessions on standard output \r\n"
    "                  instead of the raw traffic (console only) \r\n"
    "    --pcap=file  :    write the sessions to a pcapng file (console only) \r\n"
    "    --capture-limit=size  :    memory for the window's captured sessions, with \r\n"
    "                  K, M or G; 0 turns capturing off (window only; default: 256M) \r\n"
    "    --forward=[addr:]lport:host:port  :    one of several forwards (console \r\n"
    "                  only, repeatable; replaces --source and --destination) \r\n"
    "    --condition=dir:kind=value[,option=value...]  :    shape the traffic of \r\n"
    "                  up, down or both: delay (jitter), rate, slice (pause), \r\n"
    "                  cut (end=fin|reset), stall, close-delay; probability=0..1 \r\n"
    "                  (repeatable; after --forward for that forward only) \r\n"
    "    --connect-timeout=duration  :    give up a connect to an address after \r\n"
    "                  this long, in ms, s or m (default: the system's) \r\n"
    "    --idle-timeout=duration  :    close a session with no bytes for this long \r\n"
    "                  (default: off) \r\n"
    "    --max-sessions=n  :    at most n open sessions per forward; more wait \r\n"
    "                  to be accepted (default: off) \r\n"
    "\r\n";

std::string HelpTextWithLineFeeds(std::string_view program) {
  std::string text;
  for (const char* p = kHelpText; *p != '\0'; ++p) {
    if (p[0] == '\r' && p[1] == '\n') continue;
    text += *p;
  }
  // The usage line names the program as it was started.
  constexpr std::string_view kUsage = "\tportwick options";
  if (const size_t at = text.find(kUsage); at != std::string::npos && !program.empty()) {
    text.replace(at + 1, std::string_view("portwick").size(), program);
  }
  return text;
}

std::string ProgramName(std::string_view path) {
#if defined(_WIN32)
  // Windows starts programs by paths with either kind of slash.
  constexpr std::string_view kSeparators = "/\\";
#else
  constexpr std::string_view kSeparators = "/";
#endif
  const size_t slash = path.find_last_of(kSeparators);
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return name.empty() ? std::string("portwick") : std::string(name);
}

std::string ParseFailureText(const ParseFailure& failure) {
  switch (failure.kind) {
    case ParseFailure::Kind::kHelpOption:
      return "";
    case ParseFailure::Kind::kBadValue:
      return "unusable value in '" + failure.argument + "'" +
             (failure.reason.empty() ? "" : ": " + failure.reason);
    case ParseFailure::Kind::kUnknownCommand:
      return "unknown command '" + failure.argument + "'";
    case ParseFailure::Kind::kUnknownOption:
      break;
  }
  return "unknown option '" + failure.argument + "'";
}

namespace {

enum class OptionName {
  kSource,
  kDestination,
  kBind,
  kSynch,
  kFilename,
  kOutput,
  kConsole,
  kVersion,
  kTrace,
  kPcap,
  kCaptureLimit,
  kForward,
  kCondition,
  kConnectTimeout,
  kIdleTimeout,
  kMaxSessions,
  kHelp,
  kH
};

struct OptionEntry {
  std::string_view name;
  OptionName id;
};

// Tried in this order; the first name the option text begins with wins.
constexpr std::array<OptionEntry, 18> kOptions = {{
    {"source", OptionName::kSource},
    {"destination", OptionName::kDestination},
    {"bind", OptionName::kBind},
    {"synch", OptionName::kSynch},
    {"filename", OptionName::kFilename},
    {"output", OptionName::kOutput},
    {"console", OptionName::kConsole},
    {"version", OptionName::kVersion},
    {"trace", OptionName::kTrace},
    {"pcap", OptionName::kPcap},
    {"capture-limit", OptionName::kCaptureLimit},
    {"forward", OptionName::kForward},
    {"condition", OptionName::kCondition},
    {"connect-timeout", OptionName::kConnectTimeout},
    {"idle-timeout", OptionName::kIdleTimeout},
    {"max-sessions", OptionName::kMaxSessions},
    {"help", OptionName::kHelp},
    {"h", OptionName::kH},
}};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// "off", "0", "no" and "false" switch an on/off option off.
bool IsOffWord(std::string_view value) {
  return EqualsIgnoringCase(value, "off") || value == "0" || EqualsIgnoringCase(value, "no") ||
         EqualsIgnoringCase(value, "false");
}

void SetDestination(std::string_view value, ProxySettings* settings) {
  // "[host]" or "[host]:port": brackets give a host that holds ':' (an IPv6
  // literal). The host ends at the last ']', so any text can be given this way.
  const size_t close = value.front() == '[' ? value.rfind(']') : std::string_view::npos;
  if (close != std::string_view::npos) {
    const std::string_view rest = value.substr(close + 1);
    if (rest.empty() || rest.front() == ':') {
      settings->remote_host = std::string(value.substr(1, close - 1));
      if (!rest.empty()) settings->remote_port = TextToInt(rest.substr(1));
      return;
    }
  }
  // Otherwise the host is cut at the first ':'.
  const size_t colon = value.find(':');
  if (colon == std::string_view::npos) {
    settings->remote_port = TextToInt(value);
    return;
  }
  settings->remote_host = std::string(value.substr(0, colon));
  settings->remote_port = TextToInt(value.substr(colon + 1));
}

std::optional<TraceMode> ParseTraceMode(std::string_view value) {
  if (value.empty() || EqualsIgnoringCase(value, "text")) return TraceMode::kText;
  if (EqualsIgnoringCase(value, "hex")) return TraceMode::kHex;
  if (EqualsIgnoringCase(value, "events")) return TraceMode::kEvents;
  if (IsOffWord(value)) return TraceMode::kOff;
  return std::nullopt;
}

// Decimal digits and an optional K, M or G (powers of 1024, any case).
std::optional<uint64_t> ParseSize(std::string_view value) {
  uint64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end == value.data()) return std::nullopt;
  const std::string_view suffix(end, static_cast<size_t>(value.data() + value.size() - end));
  int shift = 0;
  if (suffix.size() == 1) {
    switch (AsciiLower(suffix[0])) {
      case 'k':
        shift = 10;
        break;
      case 'm':
        shift = 20;
        break;
      case 'g':
        shift = 30;
        break;
      default:
        return std::nullopt;
    }
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  if (shift > 0 && number > (UINT64_MAX >> shift)) return std::nullopt;
  return number << shift;
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  unsigned port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(port);
}

// Splits at the colons outside brackets: "[::1]:80:h:1" gives "[::1]", "80",
// "h", "1".
std::vector<std::string_view> SplitOutsideBrackets(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  bool in_brackets = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '[') in_brackets = true;
    if (text[i] == ']') in_brackets = false;
    if (text[i] == ':' && !in_brackets) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

// "LOCALPORT:HOST:PORT" or "ADDR:LOCALPORT:HOST:PORT"; an IPv6 address or
// host in brackets.
std::optional<ForwardSpec> ParseForward(std::string_view value) {
  const std::vector<std::string_view> parts = SplitOutsideBrackets(value);
  if (parts.size() != 3 && parts.size() != 4) return std::nullopt;
  const size_t first = parts.size() - 3;
  const std::optional<uint16_t> local_port = ParsePort(parts[first]);
  const std::optional<uint16_t> remote_port = ParsePort(parts[first + 2]);
  if (!local_port || !remote_port) return std::nullopt;
  ForwardSpec forward;
  forward.bind = Endpoint::AnyIPv4(*local_port);
  if (parts.size() == 4) {
    const std::optional<Endpoint> bind = Endpoint::ParseAddress(parts[0], *local_port);
    if (!bind) return std::nullopt;
    forward.bind = *bind;
    forward.bind_given = true;
  }
  std::string_view host = parts[first + 1];
  if (host.find(':') != std::string_view::npos && !(host.starts_with('[') && host.ends_with(']'))) {
    return std::nullopt;
  }
  forward.remote_host = std::string(StripBrackets(host));
  forward.remote_port = *remote_port;
  return forward;
}

std::optional<uint32_t> ParseSessionCount(std::string_view text, std::string* reason) {
  uint32_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
      count > SessionLimits::kMaxSessionsLimit) {
    *reason = "'" + std::string(text) + "' is not a number of sessions from 0 to " +
              std::to_string(SessionLimits::kMaxSessionsLimit);
    return std::nullopt;
  }
  return count;
}

// A condition follows the forward before it, or acts on all of them.
ArgumentResult AddCondition(std::string_view value, ProxySettings* settings, std::string* reason) {
  std::optional<Condition> condition = ParseCondition(value, reason);
  if (!condition) return ArgumentResult::kStopWithBadValue;
  std::vector<Condition>& to =
      settings->forwards.empty() ? settings->conditions : settings->forwards.back().conditions;
  to.push_back(*condition);
  return ArgumentResult::kContinue;
}

ArgumentResult SetDuration(std::string_view value, std::chrono::milliseconds* to,
                           std::string* reason) {
  const std::optional<std::chrono::milliseconds> duration = ParseDuration(value, reason);
  if (!duration) return ArgumentResult::kStopWithBadValue;
  *to = *duration;
  return ArgumentResult::kContinue;
}

ArgumentResult ParseOption(std::string_view text, ProxySettings* settings, std::string* reason) {
  for (const OptionEntry& option : kOptions) {
    if (!StartsWithIgnoringCase(text, option.name)) continue;
    std::string_view value = text.substr(option.name.size());
    // The '=' between name and value is optional; drop it when present.
    if (!value.empty() && value.front() == '=') value.remove_prefix(1);
    switch (option.id) {
      case OptionName::kSource:
        if (!value.empty()) settings->local_port = TextToInt(value);
        return ArgumentResult::kContinue;
      case OptionName::kDestination:
        if (!value.empty()) SetDestination(value, settings);
        return ArgumentResult::kContinue;
      case OptionName::kBind:
        // Also when empty: a bare "--bind" goes back to every IPv4 interface.
        settings->bind_address = std::string(value);
        return ArgumentResult::kContinue;
      case OptionName::kSynch:
        settings->log_synchronously = true;
        return ArgumentResult::kContinue;
      case OptionName::kFilename:
        settings->log_file_name = std::string(value);
        return ArgumentResult::kContinue;
      case OptionName::kOutput:
        settings->show_in_output = !IsOffWord(value);
        return ArgumentResult::kContinue;
      case OptionName::kConsole:
        settings->console = true;
        return ArgumentResult::kContinue;
      case OptionName::kVersion:
        settings->show_version = true;
        return ArgumentResult::kContinue;
      case OptionName::kTrace: {
        const std::optional<TraceMode> mode = ParseTraceMode(value);
        if (!mode) return ArgumentResult::kStopWithBadValue;
        settings->trace = *mode;
        return ArgumentResult::kContinue;
      }
      case OptionName::kPcap:
        if (value.empty()) return ArgumentResult::kStopWithBadValue;
        settings->pcap_file = std::string(value);
        return ArgumentResult::kContinue;
      case OptionName::kCaptureLimit: {
        const std::optional<uint64_t> limit = ParseSize(value);
        if (!limit) return ArgumentResult::kStopWithBadValue;
        settings->capture_limit = *limit;
        return ArgumentResult::kContinue;
      }
      case OptionName::kForward: {
        std::optional<ForwardSpec> forward = ParseForward(value);
        if (!forward) return ArgumentResult::kStopWithBadValue;
        settings->forwards.push_back(std::move(*forward));
        return ArgumentResult::kContinue;
      }
      case OptionName::kCondition:
        return AddCondition(value, settings, reason);
      case OptionName::kConnectTimeout:
        return SetDuration(value, &settings->limits.connect_timeout, reason);
      case OptionName::kIdleTimeout:
        return SetDuration(value, &settings->limits.idle_timeout, reason);
      case OptionName::kMaxSessions: {
        const std::optional<uint32_t> count = ParseSessionCount(value, reason);
        if (!count) return ArgumentResult::kStopWithBadValue;
        settings->limits.max_sessions = *count;
        return ArgumentResult::kContinue;
      }
      case OptionName::kHelp:
      case OptionName::kH:
        return ArgumentResult::kStopWithFailure;
    }
  }
  return ArgumentResult::kStopWithFailure;
}

ArgumentResult ParseCommandWord(std::string_view word, ProxySettings* settings,
                                const ShowHelp& show_help) {
  if (EqualsIgnoringCase(word, "start") || EqualsIgnoringCase(word, "listen")) {
    settings->autostart = true;
    return ArgumentResult::kContinue;
  }
  if (EqualsIgnoringCase(word, "help") || EqualsIgnoringCase(word, "h")) {
    if (show_help) show_help();
    return ArgumentResult::kContinue;
  }
  return ArgumentResult::kStopWithFailure;
}

// Only the exact names ask for the help; "--hostname=x" also stops parsing
// (it begins with `h`), but it is a mistyped option rather than a request.
ParseFailure::Kind FailureKind(std::string_view text, bool is_option) {
  if (!is_option) return ParseFailure::Kind::kUnknownCommand;
  if (EqualsIgnoringCase(text, "help") || EqualsIgnoringCase(text, "h")) {
    return ParseFailure::Kind::kHelpOption;
  }
  return ParseFailure::Kind::kUnknownOption;
}

}  // namespace

ArgumentResult ParseArgument(std::string_view text, bool is_option, ProxySettings* settings,
                             const ShowHelp& show_help, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  return is_option ? ParseOption(text, settings, reason)
                   : ParseCommandWord(text, settings, show_help);
}

ParseStatus ParseCommandLine(const std::vector<std::string>& args, ProxySettings* settings,
                             const ShowHelp& show_help, ParseFailure* failure) {
  for (size_t i = 1; i < args.size(); ++i) {
    std::string_view text = args[i];
    bool is_option = false;
    if (text.starts_with("--")) {
      text.remove_prefix(2);
      is_option = true;
    }
    if (!text.empty() && (text.front() == '-' || text.front() == '/')) {
      text.remove_prefix(1);
      is_option = true;
    }
    std::string reason;
    const ArgumentResult result = ParseArgument(text, is_option, settings, show_help, &reason);
    if (result != ArgumentResult::kContinue) {
      if (failure != nullptr) {
        failure->argument = args[i];
        failure->reason = result == ArgumentResult::kStopWithBadValue ? reason : "";
        failure->kind = result == ArgumentResult::kStopWithBadValue ? ParseFailure::Kind::kBadValue
                                                                    : FailureKind(text, is_option);
      }
      return ParseStatus::kFailure;
    }
  }
  return ParseStatus::kSuccess;
}

}  // namespace portwick
