#include "app/command_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace portwick {
namespace {

using Edit = std::function<void(ProxySettings&)>;

struct ParseCase {
  std::vector<std::string> args;  // without the program path
  ParseStatus status;
  Edit edit;  // turns the built-in settings into the expected ones; may be null
};

std::string Describe(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += "[" + arg + "] ";
  return text;
}

void RunCases(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(Describe(c.args));
    std::vector<std::string> argv = {"/usr/bin/portwick"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProxySettings settings;
    int help_calls = 0;
    EXPECT_EQ(ParseCommandLine(argv, &settings, [&] { ++help_calls; }), c.status);
    ProxySettings expected;
    if (c.edit) c.edit(expected);
    EXPECT_EQ(settings.local_port, expected.local_port);
    EXPECT_EQ(settings.bind_address, expected.bind_address);
    EXPECT_EQ(settings.remote_host, expected.remote_host);
    EXPECT_EQ(settings.remote_port, expected.remote_port);
    EXPECT_EQ(settings.log_file_name, expected.log_file_name);
    EXPECT_EQ(settings.autostart, expected.autostart);
    EXPECT_EQ(settings.log_synchronously, expected.log_synchronously);
    EXPECT_EQ(settings.show_in_output, expected.show_in_output);
    EXPECT_EQ(settings.console, expected.console);
    EXPECT_EQ(settings.show_version, expected.show_version);
    EXPECT_EQ(help_calls, 0);
  }
}

constexpr ParseStatus kOk = ParseStatus::kSuccess;
constexpr ParseStatus kFail = ParseStatus::kFailure;

TEST(ParseCommandLineTest, BuiltInValues) {
  ProxySettings settings;
  EXPECT_EQ(settings.local_port, 1999);
  EXPECT_EQ(settings.bind_address, "");
  EXPECT_EQ(settings.remote_host, "localhost");
  EXPECT_EQ(settings.remote_port, 2007);
  EXPECT_EQ(settings.log_file_name, "");
  EXPECT_FALSE(settings.autostart);
  EXPECT_FALSE(settings.log_synchronously);
  EXPECT_TRUE(settings.show_in_output);
  EXPECT_FALSE(settings.console);
  EXPECT_FALSE(settings.show_version);
  RunCases({{{}, kOk, nullptr}});
  // An empty argument vector (no program path either) is success too.
  ProxySettings untouched;
  EXPECT_EQ(ParseCommandLine({}, &untouched, nullptr), kOk);
  EXPECT_EQ(untouched, ProxySettings());
}

TEST(ParseCommandLineTest, OptionPrefixes) {
  const Edit port80 = [](ProxySettings& s) { s.local_port = 80; };
  RunCases({
      {{"--source=80"}, kOk, port80},
      {{"-source=80"}, kOk, port80},
      {{"/source=80"}, kOk, port80},
      {{"---source=80"}, kOk, port80},
      {{"--/source=80"}, kOk, port80},
      // Only one '-' or '/' is dropped after "--".
      {{"----source=80"}, kFail, nullptr},
      {{"--//source=80"}, kFail, nullptr},
      {{"-/source=80"}, kFail, nullptr},
      {{"/-source=80"}, kFail, nullptr},
      // A prefix alone leaves an empty option text, which matches nothing.
      {{"--"}, kFail, nullptr},
      {{"-"}, kFail, nullptr},
      {{"/"}, kFail, nullptr},
  });
}

TEST(ParseCommandLineTest, NamesMatchByCaseInsensitivePrefix) {
  RunCases({
      {{"-SOURCE=80"}, kOk, [](ProxySettings& s) { s.local_port = 80; }},
      {{"--SoUrCe=81"}, kOk, [](ProxySettings& s) { s.local_port = 81; }},
      {{"--source80"}, kOk, [](ProxySettings& s) { s.local_port = 80; }},
      {{"--sourcefoo"}, kOk, [](ProxySettings& s) { s.local_port = 0; }},
      {{"--DESTINATION=h:1"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "h", s.remote_port = 1; }},
      // Texts shorter than a name don't match it.
      {{"--sour=80"}, kFail, nullptr},
      {{"--dest=h:1"}, kFail, nullptr},
      {{"--co"}, kFail, nullptr},
      {{"--c"}, kFail, nullptr},
      // `h` catches everything else that begins with h, and fails.
      {{"--hostname=x"}, kFail, nullptr},
      {{"--hello"}, kFail, nullptr},
      {{"--help"}, kFail, nullptr},
      {{"-h"}, kFail, nullptr},
      {{"/H"}, kFail, nullptr},
      {{"--unknown"}, kFail, nullptr},
  });
}

TEST(ParseCommandLineTest, SourceValues) {
  RunCases({
      {{"--source"}, kOk, nullptr},
      {{"--source="}, kOk, nullptr},
      // The '=' is dropped also before a single character.
      {{"--source=8"}, kOk, [](ProxySettings& s) { s.local_port = 8; }},
      {{"--source=0"}, kOk, [](ProxySettings& s) { s.local_port = 0; }},
      {{"--source==8"}, kOk, [](ProxySettings& s) { s.local_port = 0; }},
      {{"--source=abc"}, kOk, [](ProxySettings& s) { s.local_port = 0; }},
      {{"--source= -12"}, kOk, [](ProxySettings& s) { s.local_port = -12; }},
      {{"--source=70000"}, kOk, [](ProxySettings& s) { s.local_port = 70000; }},
      {{"--source=99999999999"}, kOk, [](ProxySettings& s) { s.local_port = INT_MAX; }},
      {{"--source=-99999999999"}, kOk, [](ProxySettings& s) { s.local_port = INT_MIN; }},
  });
}

TEST(ParseCommandLineTest, DestinationValues) {
  RunCases({
      {{"--destination=10.0.0.5:8080"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "10.0.0.5", s.remote_port = 8080; }},
      {{"--destination=8080"}, kOk, [](ProxySettings& s) { s.remote_port = 8080; }},
      {{"--destination=:8080"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "", s.remote_port = 8080; }},
      {{"--destination=db:"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "db", s.remote_port = 0; }},
      {{"--destination=a:b:c"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "a", s.remote_port = 0; }},
      {{"--destination=myhost"}, kOk, [](ProxySettings& s) { s.remote_port = 0; }},
      {{"--destination"}, kOk, nullptr},
      {{"--destination="}, kOk, nullptr},
      {{"--destination=:"}, kOk, [](ProxySettings& s) { s.remote_host = "", s.remote_port = 0; }},
      {{"--destination=x:9"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "x", s.remote_port = 9; }},
  });
}

TEST(ParseCommandLineTest, DestinationsInBrackets) {
  const auto host_port = [](const char* host, int port) {
    return [host, port](ProxySettings& s) { s.remote_host = host, s.remote_port = port; };
  };
  struct Case {
    std::string value;
    std::string host;
    int port;
  };
  const Case kCases[] = {
      {"[::1]:2007", "::1", 2007},
      {"[fe80::1%lo]:80", "fe80::1%lo", 80},
      {"[2001:db8::a:b]:65535", "2001:db8::a:b", 65535},
      {"[::ffff:127.0.0.1]:7", "::ffff:127.0.0.1", 7},
      {"[10.0.0.5]:8080", "10.0.0.5", 8080},
      // The host ends at the last ']', so brackets and colons inside stay.
      {"[a]:5]:6", "a]:5", 6},
      {"[[x]]:1", "[x]", 1},
      {"[]:9", "", 9},
      {"[::1]:", "::1", 0},
      {"[::1]:abc", "::1", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value);
    ProxySettings settings;
    ASSERT_EQ(ParseCommandLine({"portwick", "--destination=" + c.value}, &settings, nullptr), kOk);
    EXPECT_EQ(settings.remote_host, c.host);
    EXPECT_EQ(settings.remote_port, c.port);
  }
  RunCases({
      // Brackets without a port set the host only, as a bare port sets the port only.
      {{"--destination=[::1]"}, kOk, [](ProxySettings& s) { s.remote_host = "::1"; }},
      {{"--destination=5", "--destination=[::1]"}, kOk, host_port("::1", 5)},
      // Anything else after the ']' keeps the old rule: the host ends at the first ':'.
      {{"--destination=[::1]x:2"}, kOk, host_port("[", 0)},
      {{"--destination=[::1"}, kOk, host_port("[", 0)},
      {{"--destination=[abc"}, kOk, [](ProxySettings& s) { s.remote_port = 0; }},
      {{"--destination=a[b]:1"}, kOk, host_port("a[b]", 1)},
      // An IPv6 address without brackets is cut at its first ':'.
      {{"--destination=::1"}, kOk, host_port("", 0)},
  });
}

TEST(ParseCommandLineTest, BindValues) {
  const auto bind = [](const char* address) {
    return [address](ProxySettings& s) { s.bind_address = address; };
  };
  RunCases({
      {{"--bind=127.0.0.1"}, kOk, bind("127.0.0.1")},
      {{"--bind=::"}, kOk, bind("::")},
      {{"--bind=[::1]"}, kOk, bind("[::1]")},
      {{"-BIND=fe80::1%lo"}, kOk, bind("fe80::1%lo")},
      {{"--bind0.0.0.0"}, kOk, bind("0.0.0.0")},
      // Not checked while parsing: console mode and the window refuse it.
      {{"--bind=nonsense"}, kOk, bind("nonsense")},
      // A bare --bind goes back to every IPv4 interface.
      {{"--bind=::", "--bind"}, kOk, nullptr},
      {{"--bind=::", "--bind="}, kOk, nullptr},
      {{"--bin=::"}, kFail, nullptr},
  });
}

TEST(ParseCommandLineTest, FilenameValues) {
  RunCases({
      {{"--filename=a"}, kOk, [](ProxySettings& s) { s.log_file_name = "a"; }},
      {{"--filenamea"}, kOk, [](ProxySettings& s) { s.log_file_name = "a"; }},
      {{"--filename==a"}, kOk, [](ProxySettings& s) { s.log_file_name = "=a"; }},
      {{"--filename=my log.txt"}, kOk, [](ProxySettings& s) { s.log_file_name = "my log.txt"; }},
      {{"--filename=x", "--filename="}, kOk, nullptr},
      {{"--filename=x", "--filename"}, kOk, nullptr},
  });
}

TEST(ParseCommandLineTest, LoggingAndConsoleFlags) {
  const Edit output_off = [](ProxySettings& s) { s.show_in_output = false; };
  RunCases({
      {{"--synch"}, kOk, [](ProxySettings& s) { s.log_synchronously = true; }},
      {{"--SYNCH=yes"}, kOk, [](ProxySettings& s) { s.log_synchronously = true; }},
      {{"--output"}, kOk, nullptr},
      {{"--output=on"}, kOk, nullptr},
      {{"--output=off"}, kOk, output_off},
      {{"--output=OFF"}, kOk, output_off},
      {{"--outputoff"}, kOk, output_off},
      {{"--output=0"}, kOk, output_off},
      {{"--output=No"}, kOk, output_off},
      {{"--output=FALSE"}, kOk, output_off},
      {{"--output=offf"}, kOk, nullptr},
      {{"--output=off", "--output"}, kOk, nullptr},
      {{"--output", "--output=off"}, kOk, output_off},
      {{"--console"}, kOk, [](ProxySettings& s) { s.console = true; }},
      {{"-CONSOLE"}, kOk, [](ProxySettings& s) { s.console = true; }},
      {{"--consolex"}, kOk, [](ProxySettings& s) { s.console = true; }},
      {{"--version"}, kOk, [](ProxySettings& s) { s.show_version = true; }},
      {{"-VERSION"}, kOk, [](ProxySettings& s) { s.show_version = true; }},
      {{"/version", "start"},
       kOk,
       [](ProxySettings& s) { s.show_version = true, s.autostart = true; }},
      {{"--vers"}, kFail, nullptr},
      {{"--version", "--bogus"}, kFail, [](ProxySettings& s) { s.show_version = true; }},
  });
}

TEST(ParseCommandLineTest, FailureNamesTheArgumentAndItsKind) {
  using Kind = ParseFailure::Kind;
  struct Case {
    std::vector<std::string> args;
    Kind kind;
    std::string argument;
  };
  const Case kCases[] = {
      {{"--help"}, Kind::kHelpOption, "--help"},
      {{"-h"}, Kind::kHelpOption, "-h"},
      {{"/HELP"}, Kind::kHelpOption, "/HELP"},
      {{"---H"}, Kind::kHelpOption, "---H"},
      {{"--source=1", "--help", "--bogus"}, Kind::kHelpOption, "--help"},
      // Texts that only begin with h stop parsing as the help does, but they
      // are mistyped options, not requests for the help.
      {{"--hostname=x"}, Kind::kUnknownOption, "--hostname=x"},
      {{"--help=1"}, Kind::kUnknownOption, "--help=1"},
      {{"--helpme"}, Kind::kUnknownOption, "--helpme"},
      {{"--destinaton=localhost:2007"}, Kind::kUnknownOption, "--destinaton=localhost:2007"},
      {{"--"}, Kind::kUnknownOption, "--"},
      {{"----source=80"}, Kind::kUnknownOption, "----source=80"},
      {{"start", "80"}, Kind::kUnknownCommand, "80"},
      {{"strat"}, Kind::kUnknownCommand, "strat"},
      {{""}, Kind::kUnknownCommand, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Describe(c.args));
    std::vector<std::string> argv = {"portwick"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProxySettings settings;
    ParseFailure failure;
    ASSERT_EQ(ParseCommandLine(argv, &settings, nullptr, &failure), kFail);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(failure.argument, c.argument);
  }
  // A successful parse leaves the failure record alone.
  ParseFailure untouched{ParseFailure::Kind::kUnknownCommand, "before", ""};
  ProxySettings settings;
  EXPECT_EQ(ParseCommandLine({"portwick", "start"}, &settings, nullptr, &untouched), kOk);
  EXPECT_EQ(untouched.argument, "before");
}

TEST(ParseCommandLineTest, CommandWordsAndOrder) {
  const Edit autostart = [](ProxySettings& s) { s.autostart = true; };
  RunCases({
      {{"start"}, kOk, autostart},
      {{"listen"}, kOk, autostart},
      {{"START"}, kOk, autostart},
      {{"LiStEn"}, kOk, autostart},
      {{"start", "--source=80"},
       kOk,
       [](ProxySettings& s) { s.autostart = true, s.local_port = 80; }},
      {{"--source=80", "start"},
       kOk,
       [](ProxySettings& s) { s.autostart = true, s.local_port = 80; }},
      // Command words are compared whole.
      {{"starts"}, kFail, nullptr},
      {{"sta"}, kFail, nullptr},
      {{"80"}, kFail, nullptr},
      {{""}, kFail, nullptr},
      // A later option overrides an earlier one.
      {{"--source=1", "--source=2"}, kOk, [](ProxySettings& s) { s.local_port = 2; }},
      {{"--destination=a:1", "--destination=2"},
       kOk,
       [](ProxySettings& s) { s.remote_host = "a", s.remote_port = 2; }},
      // Parsing stops at the first failure; what came before keeps its effect.
      {{"--source=80", "bogus", "--source=90", "start"},
       kFail,
       [](ProxySettings& s) { s.local_port = 80; }},
      {{"start", "--help", "--console"}, kFail, autostart},
  });
}

TEST(ParseCommandLineTest, HelpCommandShowsHelpAndGoesOn) {
  struct HelpCase {
    std::vector<std::string> args;
    ParseStatus status;
    int help_calls;
    int local_port;
  };
  const HelpCase kCases[] = {
      {{"help"}, kOk, 1, 1999},
      {{"h", "--source=5", "HELP"}, kOk, 2, 5},
      {{"help", "--source=6", "bogus", "help"}, kFail, 1, 6},
      // The options --help and -h fail without showing anything themselves.
      {{"--help"}, kFail, 0, 1999},
      {{"-h", "help"}, kFail, 0, 1999},
  };
  for (const HelpCase& c : kCases) {
    SCOPED_TRACE(Describe(c.args));
    std::vector<std::string> argv = {"portwick"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProxySettings settings;
    std::vector<int> ports_seen;  // the port set so far when the help is shown
    EXPECT_EQ(ParseCommandLine(argv, &settings, [&] { ports_seen.push_back(settings.local_port); }),
              c.status);
    EXPECT_EQ(static_cast<int>(ports_seen.size()), c.help_calls);
    EXPECT_EQ(settings.local_port, c.local_port);
  }
  // The help is shown at once, before the following arguments are handled.
  ProxySettings settings;
  int port_at_help = 0;
  ParseCommandLine({"portwick", "--source=1", "help", "--source=2"}, &settings,
                   [&] { port_at_help = settings.local_port; });
  EXPECT_EQ(port_at_help, 1);
  // Without a callback the command help still continues.
  ProxySettings quiet;
  EXPECT_EQ(ParseCommandLine({"portwick", "help", "start"}, &quiet, nullptr), kOk);
  EXPECT_TRUE(quiet.autostart);
}

// The options of the console's session output. Each case gives the whole
// expected settings; a failing value names the argument as a bad value.
TEST(ParseCommandLineTest, SessionOutputOptions) {
  struct Case {
    std::vector<std::string> args;
    ParseStatus status;
    Edit edit;
  };
  const Case cases[] = {
      {{"--trace"}, kOk, [](ProxySettings& s) { s.trace = TraceMode::kText; }},
      {{"--trace=text"}, kOk, [](ProxySettings& s) { s.trace = TraceMode::kText; }},
      {{"--TRACE=HEX"}, kOk, [](ProxySettings& s) { s.trace = TraceMode::kHex; }},
      {{"-trace=events"}, kOk, [](ProxySettings& s) { s.trace = TraceMode::kEvents; }},
      {{"--trace=hex", "--trace=off"}, kOk, nullptr},
      {{"--trace=binary"}, kFail, nullptr},
      {{"--tracer"}, kFail, nullptr},
      {{"--pcap=/tmp/x.pcapng"}, kOk, [](ProxySettings& s) { s.pcap_file = "/tmp/x.pcapng"; }},
      {{"--pcap"}, kFail, nullptr},
      {{"--capture-limit=0"}, kOk, [](ProxySettings& s) { s.capture_limit = 0; }},
      {{"--capture-limit=1000"}, kOk, [](ProxySettings& s) { s.capture_limit = 1000; }},
      {{"--capture-limit=64k"}, kOk, [](ProxySettings& s) { s.capture_limit = 64 << 10; }},
      {{"--capture-limit=512M"},
       kOk,
       [](ProxySettings& s) { s.capture_limit = uint64_t{512} << 20; }},
      {{"--Capture-Limit=2G"}, kOk, [](ProxySettings& s) { s.capture_limit = uint64_t{2} << 30; }},
      {{"--capture-limit=2T"}, kFail, nullptr},
      {{"--capture-limit=M"}, kFail, nullptr},
      {{"--capture-limit=-1"}, kFail, nullptr},
      {{"--capture-limit="}, kFail, nullptr},
      {{"--capture-limit=99999999999999999999"}, kFail, nullptr},
      {{"--capture-limit=99999999999G"}, kFail, nullptr},
      {{"--capture"}, kFail, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.args));
    std::vector<std::string> argv = {"portwick"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProxySettings settings;
    ParseFailure failure;
    EXPECT_EQ(ParseCommandLine(argv, &settings, nullptr, &failure), c.status);
    ProxySettings expected;
    if (c.edit != nullptr) c.edit(expected);
    EXPECT_EQ(settings, expected);
    if (c.status == kFail && c.args[0] != "--tracer" && c.args[0] != "--capture") {
      EXPECT_EQ(failure.kind, ParseFailure::Kind::kBadValue);
    }
  }
}

TEST(ParseCommandLineTest, ForwardOptions) {
  struct Case {
    std::string arg;
    const char* bind;  // null: none given
    uint16_t local_port;
    const char* host;
    uint16_t remote_port;
  };
  const Case good[] = {
      {"--forward=8080:example.org:80", nullptr, 8080, "example.org", 80},
      {"--forward=0:localhost:2007", nullptr, 0, "localhost", 2007},
      {"--forward=127.0.0.1:8080:10.0.0.5:80", "127.0.0.1", 8080, "10.0.0.5", 80},
      {"--forward=[::1]:8080:[::1]:80", "::1", 8080, "::1", 80},
      {"--forward=[::]:9:[fe80::1%lo]:22", "::", 9, "fe80::1%lo", 22},
      {"--FORWARD=1::2", nullptr, 1, "", 2},  // an empty host is this machine
  };
  for (const Case& c : good) {
    SCOPED_TRACE(c.arg);
    ProxySettings settings;
    ASSERT_EQ(ParseCommandLine({"portwick", c.arg}, &settings, nullptr), kOk);
    ASSERT_EQ(settings.forwards.size(), 1u);
    const ForwardSpec& forward = settings.forwards[0];
    EXPECT_EQ(forward.bind_given, c.bind != nullptr);
    EXPECT_EQ(forward.bind.AddressText(), c.bind != nullptr ? c.bind : "0.0.0.0");
    EXPECT_EQ(forward.bind.port(), c.local_port);
    EXPECT_EQ(forward.remote_host, c.host);
    EXPECT_EQ(forward.remote_port, c.remote_port);
    // The single-forward settings stay as they were.
    EXPECT_EQ(settings.local_port, 1999);
    EXPECT_EQ(settings.remote_host, "localhost");
  }
  const char* const bad[] = {
      "--forward=8080:host",         "--forward=8080:host:80:9:1",
      "--forward=x:host:80",         "--forward=8080:host:65536",
      "--forward=8080:::1:80",       "--forward=name:8080:host:80",
      "--forward=[::1:8080:host:80", "--forward",
      "--forward=:host:80",
  };
  for (const char* arg : bad) {
    SCOPED_TRACE(arg);
    ProxySettings settings;
    ParseFailure failure;
    EXPECT_EQ(ParseCommandLine({"portwick", arg}, &settings, nullptr, &failure), kFail);
    EXPECT_EQ(failure.kind, ParseFailure::Kind::kBadValue);
    EXPECT_TRUE(settings.forwards.empty());
  }
  // Repeated, in order.
  ProxySettings settings;
  ASSERT_EQ(ParseCommandLine({"portwick", "--forward=1:a:2", "--forward=3:b:4", "--console"},
                             &settings, nullptr),
            kOk);
  ASSERT_EQ(settings.forwards.size(), 2u);
  EXPECT_EQ(settings.forwards[0].remote_host, "a");
  EXPECT_EQ(settings.forwards[1].bind.port(), 3);
  EXPECT_TRUE(settings.console);
}

// Conditions go to the forward before them (or to all); limits take
// durations and counts; a refusal says what is wrong with which value (the
// condition parser's own refusals are tested with it).
TEST(ParseCommandLineTest, ConditionsAndLimits) {
  auto parse = [](const char* text) { return *ParseCondition(text, nullptr); };
  ProxySettings settings;
  ASSERT_EQ(ParseCommandLine({"portwick", "--condition=both:stall=0", "--forward=1:a:2",
                              "--CONDITION=down:cut=4096,end=reset", "--connect-timeout=5s",
                              "--idle-timeout=2m", "--max-sessions=1000000"},
                             &settings, nullptr),
            kOk);
  EXPECT_EQ(settings.conditions, std::vector<Condition>{parse("both:stall=0")});
  ASSERT_EQ(settings.forwards.size(), 1u);
  EXPECT_EQ(settings.forwards[0].conditions,
            std::vector<Condition>{parse("down:cut=4K,end=reset")});
  EXPECT_EQ(settings.limits,
            (SessionLimits{std::chrono::seconds(5), std::chrono::minutes(2), 1000000}));

  const std::pair<const char*, const char*> kRefused[] = {
      {"--condition=up:rate=0",
       "rate '0' lets nothing pass: at least 1 (stall=0 stops a direction)"},
      {"--connect-timeout=5", "duration '5' is not a whole number with ms, s or m"},
      {"--max-sessions=1000001", "'1000001' is not a number of sessions from 0 to 1000000"},
      {"--max-sessions=", "'' is not a number of sessions from 0 to 1000000"},
  };
  for (const auto& [arg, reason] : kRefused) {
    ParseFailure failure;
    EXPECT_EQ(ParseCommandLine({"portwick", arg}, &settings, nullptr, &failure), kFail);
    EXPECT_EQ(ParseFailureText(failure), "unusable value in '" + std::string(arg) + "': " + reason);
  }
}

// The new names take nothing from the old ones: texts that matched an
// option before still match it, and the rest still fail.
TEST(ParseCommandLineTest, NewOptionsLeaveOldMatchesAlone) {
  RunCases({
      {{"--filenamex"}, kOk, [](ProxySettings& s) { s.log_file_name = "x"; }},
      {{"--f"}, kFail, nullptr},
      {{"--for"}, kFail, nullptr},
      {{"--t"}, kFail, nullptr},
      {{"--p"}, kFail, nullptr},
      {{"--cap"}, kFail, nullptr},
      {{"--console=1"}, kOk, [](ProxySettings& s) { s.console = true; }},
      {{"--hpcap"}, kFail, nullptr},
  });
}

TEST(ParseArgumentTest, TakesTextWithoutPrefix) {
  ProxySettings settings;
  EXPECT_EQ(ParseArgument("source=81", true, &settings, nullptr), ArgumentResult::kContinue);
  EXPECT_EQ(settings.local_port, 81);
  // The same text as a command word is not a command.
  EXPECT_EQ(ParseArgument("source=82", false, &settings, nullptr),
            ArgumentResult::kStopWithFailure);
  EXPECT_EQ(settings.local_port, 81);
  EXPECT_EQ(ParseArgument("start", true, &settings, nullptr), ArgumentResult::kStopWithFailure);
  EXPECT_FALSE(settings.autostart);
  EXPECT_EQ(ParseArgument("start", false, &settings, nullptr), ArgumentResult::kContinue);
  EXPECT_TRUE(settings.autostart);
}

TEST(HelpTextTest, ProgramNameIsThePathsLastPart) {
#if defined(_WIN32)
  constexpr const char* kBackslashed = "portwick.exe";
#else
  constexpr const char* kBackslashed = "C:\\Tools\\portwick.exe";  // a file name on POSIX
#endif
  const struct {
    const char* path;
    const char* name;
  } kCases[] = {{"", "portwick"},
                {"portwick", "portwick"},
                {"/opt/pw/bin/portwick-dev", "portwick-dev"},
                {"bin/", "portwick"},
                {"C:\\Tools\\portwick.exe", kBackslashed}};
  for (const auto& c : kCases) EXPECT_EQ(ProgramName(c.path), c.name) << c.path;
}

TEST(HelpTextTest, ExactBytes) {
  const char* const kLines[] = {
      " Portwick command line:",
      "",
      "\tportwick options [COMMAND]",
      "",
      " Available commands:",
      "\t start - start listen sockets",
      "\t help - to show this quick help",
      "  options:    ",
      "    --source=port  :    specify source port ",
      "                  (default: 1999)",
      "    --destination=address:port  :    specify destination address and port ",
      "                  (default: localhost:2007)",
      "    --bind=address  :    listen on this local address only ",
      "                  (default: every IPv4 interface; :: adds IPv6)",
      "    --filename=file  :    write the traffic to this log file ",
      "                  (default: none)",
      "    --synch  :    log synchronously ",
      "                  (default: off)",
      "    --output=on|off  :    show the traffic in the output ",
      "                  (default: on)",
      "    --console  :    run without a window and start forwarding at once ",
      "    --version  :    print the version and end ",
      "    --trace[=text|hex|events]  :    show the sessions on standard output ",
      "                  instead of the raw traffic (console only) ",
      "    --pcap=file  :    write the sessions to a pcapng file (console only) ",
      "    --capture-limit=size  :    memory for the window's captured sessions, with ",
      "                  K, M or G; 0 turns capturing off (window only; default: 256M) ",
      "    --forward=[addr:]lport:host:port  :    one of several forwards (console ",
      "                  only, repeatable; replaces --source and --destination) ",
      "    --condition=dir:kind=value[,option=value...]  :    shape the traffic of ",
      "                  up, down or both: delay (jitter), rate, slice (pause), ",
      "                  cut (end=fin|reset), stall, close-delay; probability=0..1 ",
      "                  (repeatable; after --forward for that forward only) ",
      "    --connect-timeout=duration  :    give up a connect to an address after ",
      "                  this long, in ms, s or m (default: the system's) ",
      "    --idle-timeout=duration  :    close a session with no bytes for this long ",
      "                  (default: off) ",
      "    --max-sessions=n  :    at most n open sessions per forward; more wait ",
      "                  to be accepted (default: off) ",
      "",
  };
  std::string crlf;
  std::string lf;
  for (const char* line : kLines) {
    crlf += std::string(line) + "\r\n";
    lf += std::string(line) + "\n";
  }
  EXPECT_EQ(std::string(kHelpText), crlf);
  EXPECT_EQ(HelpTextWithLineFeeds(), lf);
  EXPECT_STREQ(kApplicationTitle, "Portwick");
}

}  // namespace
}  // namespace portwick
