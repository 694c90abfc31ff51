// Runs the built portwick binary in console mode as a child process.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "child_process.h"
#include "engine/socket_ops.h"
#include "fake_display.h"
#include "pcapng_reader.h"
#include "read_file.h"
#include "test_server.h"
#include "trace_decoder.h"

namespace portwick {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::ConnectLoopback;
using testing::ExitCode;
using testing::PeerServer;
using testing::ReadExactly;
using testing::ReadFile;
using testing::ReadUntilEnd;
using testing::SendAndRead;
using testing::SendBytes;
using testing::StreamEnd;

constexpr auto kTimeout = 20s;

// The stop signals a test can send. Windows has console events instead:
// Ctrl+C is sent as SIGINT; Ctrl+Break can't be sent from outside under Wine
// (tests/windows delivers it in-process).
#if defined(_WIN32)
const std::vector<int> kStops = {SIGINT};
constexpr int kTerminate = SIGINT;
// The usage line names the program file as it was started, folder left out.
constexpr const char* kProgramFile = "portwick.exe";
const std::string kAddressInUse = sockets::ErrorText(EADDRINUSE);  // Winsock's words
#else
// A closed terminal (SIGHUP) and Ctrl-\ (SIGQUIT) stop like the others.
const std::vector<int> kStops = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
constexpr int kTerminate = SIGTERM;
constexpr const char* kProgramFile = "portwick";
const std::string kAddressInUse = "Address already in use";
#endif

// The program under test: the one this build made, or another copy of it
// (the one unpacked from the Debian package) named by PORTWICK_BINARY_UNDER_TEST.
std::string PortwickBinary() {
  const char* other = std::getenv("PORTWICK_BINARY_UNDER_TEST");
  return other != nullptr && other[0] != '\0' ? other : PORTWICK_BINARY;
}

std::unique_ptr<ChildProcess> StartPortwick(const std::vector<std::string>& args,
                                            bool read_stdout = true,
                                            std::vector<int> closed_descriptors = {}) {
  ChildProcess::Options options;
  options.argv = {PortwickBinary()};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.read_stdout = read_stdout;
  options.closed_descriptors = std::move(closed_descriptors);
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(options, &error);
  EXPECT_TRUE(child) << error;
  return child;
}

// Waits for the line announcing the listener and returns the port it gives.
// `listening` is what stands before the port: '*' or the bind address.
int WaitForListening(ChildProcess& child, const std::string& destination,
                     const std::string& listening = "*") {
  const std::optional<std::string> line = child.WaitForStderrLine(
      [](const std::string& text) { return text.starts_with("Portwick: "); }, kTimeout);
  if (!line) {
    ADD_FAILURE() << "no start line; stderr: " << child.stderr_text();
    return 0;
  }
  // "Portwick: forwarding <listening>:<port> -> <destination>"
  const std::string prefix = "Portwick: forwarding " + listening + ":";
  const size_t arrow = line->find(" -> ");
  const std::string digits = line->starts_with(prefix) && arrow != std::string::npos
                                 ? line->substr(prefix.size(), arrow - prefix.size())
                                 : "";
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    ADD_FAILURE() << "unexpected line: " << *line;
    return 0;
  }
  EXPECT_EQ(line->substr(arrow + 4), destination);
  const int port = std::stoi(digits);
  EXPECT_GT(port, 0);
  return port;
}

// A program run to its end: the exit code (-1 when it did not exit
// normally) and everything it wrote.
struct Ended {
  int code = -1;
  std::string out;
  std::string err;
};
Ended RunToEnd(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  ChildProcess::Options options;
  options.argv = {PortwickBinary()};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = env;
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(options, &error);
  if (!child) {
    ADD_FAILURE() << error;
    return {};
  }
  Ended ended;
  ended.code = ExitCode(child->WaitForExit(kTimeout));
  child->DrainOutput(kTimeout);
  ended.out = child->stdout_text();
  ended.err = child->stderr_text();
  return ended;
}

// A console run forwarding from an ephemeral port to `destination`, with
// `options` after --console --source=0 --destination=...; `port` is 0 when
// it did not start.
struct Forwarding {
  std::unique_ptr<ChildProcess> child;
  int port = 0;
};
Forwarding StartForwarding(const std::string& destination,
                           const std::vector<std::string>& options = {}, bool read_stdout = true,
                           std::vector<int> closed_descriptors = {}) {
  std::vector<std::string> args = {"--console", "--source=0", "--destination=" + destination};
  args.insert(args.end(), options.begin(), options.end());
  Forwarding run{StartPortwick(args, read_stdout, std::move(closed_descriptors))};
  if (run.child) run.port = WaitForListening(*run.child, destination);
  return run;
}

// Signals `child`; its exit code once it has ended, with its output read.
int StopWith(ChildProcess& child, int signal_number) {
  if (!child.Signal(signal_number)) {
    ADD_FAILURE() << "the signal could not be sent";
    return -1;  // the child ends with its ChildProcess
  }
  const int code = ExitCode(child.WaitForExit(kTimeout));
  child.DrainOutput(kTimeout);
  return code;
}

// A client of `port` that has sent `bytes` and had them echoed.
Socket EchoedClient(int port, const std::string& bytes) {
  Socket client = ConnectLoopback(port);
  EXPECT_EQ(SendAndRead(client.fd(), client.fd(), bytes, kTimeout), bytes);
  return client;
}

TEST(ConsoleTest, ForwardsUntilSignalThenResetsSessionsAndExitsZero) {
  for (int signal_number : kStops) {
    SCOPED_TRACE(signal_number);
    PeerServer server(PeerServer::Mode::kEcho);
    ASSERT_GT(server.port(), 0);
    Forwarding run = StartForwarding(server.Address());
    ASSERT_GT(run.port, 0);

    Socket client = EchoedClient(run.port, "ping\n");
    // Show in Output is on by default: both directions appear on stdout.
    EXPECT_TRUE(run.child->WaitForStdout("ping\nping\n", kTimeout)) << run.child->stdout_text();

    ASSERT_TRUE(run.child->Signal(signal_number));
    EXPECT_EQ(ReadUntilEnd(client.fd(), kTimeout).end, StreamEnd::kReset);
    EXPECT_EQ(server.WaitForFirstEnd(kTimeout), StreamEnd::kReset);
    EXPECT_EQ(ExitCode(run.child->WaitForExit(kTimeout)), 0) << run.child->stderr_text();
  }
}

// Started with standard input and output closed, the program must not hand
// those numbers to its sockets: the traffic shown on "standard output" would
// then go to whichever client got descriptor 1.
TEST(ConsoleTest, ClosedStandardDescriptorsNeverCarryAnotherSessionsTraffic) {
  PeerServer server(PeerServer::Mode::kEcho);
  // Synchronous: each chunk is shown before it is sent on, so once the echo
  // is back every copy of it has been written.
  Forwarding run = StartForwarding(server.Address(), {"--synch"}, /*read_stdout=*/true,
                                   /*closed_descriptors=*/{0, 1});
  ASSERT_GT(run.port, 0);

  Socket first = EchoedClient(run.port, "one");
  Socket second = EchoedClient(run.port, "password=hunter2");
  // The first client gets exactly its own echo, nothing of the second's.
  ASSERT_EQ(SendAndRead(first.fd(), first.fd(), "two", kTimeout), "two");
  ASSERT_TRUE(run.child->Signal(kTerminate));
  EXPECT_EQ(ReadUntilEnd(first.fd(), kTimeout).end, StreamEnd::kReset);
  EXPECT_EQ(ExitCode(run.child->WaitForExit(kTimeout)), 0) << run.child->stderr_text();
}

#if defined(PORTWICK_BINARY_HAS_WINDOW)
// A stale DISPLAY (nothing listens there) made Qt abort the program with its
// own message; it must end as without any display.
TEST(ConsoleTest, UnreachableDisplayPointsToConsoleModeInsteadOfAborting) {
  const testing::FakeDisplay gone(testing::FakeDisplay::Kind::kLocalX, /*listening=*/false);
  ASSERT_FALSE(gone.name().empty());
  for (const std::string argument : {"--source=1", "--bogus"}) {
    SCOPED_TRACE(argument);
    const Ended ended = RunToEnd({argument}, {"DISPLAY=" + gone.name()});
    ASSERT_NE(ended.code, -1) << ended.err;
    if (argument == "--bogus") {
      // A failed command line prints the help, display or not, and says
      // which argument was wrong.
      EXPECT_EQ(ended.out, HelpTextWithLineFeeds(kProgramFile));
      EXPECT_EQ(ended.err, "Portwick: unknown option '--bogus'\n");
    } else {
      EXPECT_EQ(ended.code, 3);
      EXPECT_EQ(ended.err,
                "Portwick: cannot open the main window: no display (DISPLAY=" + gone.name() +
                    " can't be reached).\nPortwick: run with --console to forward without a "
                    "window.\n");
    }
  }
}
#endif

TEST(ConsoleTest, ListensOnTheBindAddressAndReachesEveryKindOfDestination) {
  struct Case {
    std::string bind;
    bool server_ipv6;
    std::string destination_host;  // as given; the port is the server's
    std::string listening;         // as the start line shows it
    std::string shown_host;        // the destination host as the start line shows it
    bool client_ipv6;
  };
  const Case kCases[] = {
      {"127.0.0.1", false, "127.0.0.1", "127.0.0.1", "127.0.0.1", false},
      {"::1", true, "[::1]", "[::1]", "[::1]", true},
      {"[::1]", true, "[::1]", "[::1]", "[::1]", true},
      // Every IPv6 and IPv4 interface; an empty host is this machine, whose
      // addresses are tried in turn until the IPv4 echo server answers.
      {"::", false, "", "[::]", "localhost", false},
      {"::", true, "", "[::]", "localhost", true},
      {"::", true, "[::1]", "[::]", "[::1]", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE("bind " + c.bind + " to [" + c.destination_host + "]");
    PeerServer server(PeerServer::Mode::kEcho,
                      c.server_ipv6 ? Endpoint::LoopbackIPv6(0) : Endpoint::LoopbackIPv4(0));
    if (server.port() == 0 && c.server_ipv6) {
      GTEST_SKIP() << "no IPv6 loopback address here";
    }
    ASSERT_GT(server.port(), 0);
    const std::string port = std::to_string(server.port());
    const std::string given = c.destination_host + ":" + port;
    auto child = StartPortwick(
        {"--console", "--source=0", "--bind=" + c.bind, "--destination=" + given, "--output=off"});
    ASSERT_TRUE(child);
    const int listening_port = WaitForListening(*child, c.shown_host + ":" + port, c.listening);
    ASSERT_GT(listening_port, 0);

    const auto to = static_cast<uint16_t>(listening_port);
    Socket client =
        testing::ConnectTo(c.client_ipv6 ? Endpoint::LoopbackIPv6(to) : Endpoint::LoopbackIPv4(to));
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(SendAndRead(client.fd(), client.fd(), "hello\n", kTimeout), "hello\n");
    EXPECT_EQ(StopWith(*child, kTerminate), 0) << child->stderr_text();
  }
}

// Started with a soft descriptor limit below the hard one, the program
// raises it; when sessions take every descriptor it says so once.
TEST(ConsoleTest, RaisesTheDescriptorLimitAndSaysOnceWhenItIsReached) {
#if defined(PORTWICK_UBSAN_VPTR_NEEDS_DESCRIPTORS)
  GTEST_SKIP() << "the sanitizer's vptr check needs descriptors of its own";
#endif
  PeerServer server(PeerServer::Mode::kEcho);
  ASSERT_GT(server.port(), 0);
  ChildProcess::Options options;
  options.argv = {"/usr/bin/prlimit",
                  "--nofile=24:48",
                  "--",
                  PortwickBinary(),
                  "--console",
                  "--source=0",
                  "--destination=" + server.Address(),
                  "--output=off"};
  std::string error;
  auto child = ChildProcess::Start(options, &error);
  ASSERT_TRUE(child) << error;
  const int port = WaitForListening(*child, server.Address());
  ASSERT_GT(port, 0);

  // Each session takes two descriptors: 40 sessions are far more than 48 allow.
  std::vector<Socket> clients;
  for (int i = 0; i < 40; ++i) {
    clients.push_back(ConnectLoopback(port));
    ASSERT_TRUE(SendBytes(clients.back().fd(), "x"));
  }
  const std::string reached =
      "Portwick: the limit of 48 open descriptors is reached; new connections wait until "
      "sessions end";
  EXPECT_TRUE(
      child->WaitForStderrLine([&](const std::string& line) { return line == reached; }, kTimeout))
      << child->stderr_text();
  EXPECT_EQ(StopWith(*child, kTerminate), 0);
  const std::string& text = child->stderr_text();
  EXPECT_EQ(text.find(reached), text.rfind(reached)) << "said more than once: " << text;
}

// Command lines that end the program at once: help, version, a port that is
// taken, and command lines it can't use, each with its exit code and exactly
// what it prints where.
TEST(ConsoleTest, RunsThatEndAtOnceSayWhyWithTheirExitCode) {
  PeerServer occupant(PeerServer::Mode::kDiscard);
  ASSERT_GT(occupant.port(), 0);
  const std::string busy = std::to_string(occupant.port());
  const std::string help = HelpTextWithLineFeeds(kProgramFile);
  const std::string version = std::string("Portwick ") + PORTWICK_PROJECT_VERSION + "\n";
  const std::string see_help = "Portwick: see 'portwick --help' for the options\n";
  const std::vector<std::string> kPlainPath = {"PATH=/usr/bin:/bin"};
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
    std::string out = "";
    std::vector<std::string> env = {};  // empty: the test's own environment
  };
  const Case kCases[] = {
      {{"--console", "--help"}, 0, "", help},
      {{"--console", "-h"}, 0, "", help},
      {{"--console", "start", "/H"}, 0, "", help},
      // The command help prints at once, the option once more.
      {{"--console", "help", "--help"}, 0, "", help + help},
      {{"--version"}, 0, "", version, kPlainPath},
      // A display that can't be reached must not matter either.
      {{"--version"}, 0, "", version, {"PATH=/usr/bin:/bin", "DISPLAY=:97", "QT_QPA_PLATFORM=xcb"}},
      {{"--console", "--version"}, 0, "", version},
      {{"-VERSION", "--source=70000", "start"}, 0, "", version, kPlainPath},
      {{"help", "--version"}, 0, "", version, kPlainPath},
      // A command line that fails is not rescued by --version.
      {{"--console", "--version", "--bogus"}, 2, "Portwick: unknown option '--bogus'\n" + see_help},
      {{"--console", "--source=" + busy, "--bind=", "--destination=127.0.0.1:9"},
       1,
       "Portwick: cannot listen on port " + busy + ": " + kAddressInUse + "\n"},
      {{"--console", "--source=" + busy, "--bind=127.0.0.1", "--destination=127.0.0.1:9"},
       1,
       "Portwick: cannot listen on 127.0.0.1:" + busy + ": " + kAddressInUse + "\n"},
      // Of several forwards, the one that failed is named as its forwarding line would be.
      {{"--console", "--bind=127.0.0.1", "--forward=0:127.0.0.1:9", "--forward=" + busy + ":h:9"},
       1,
       "Portwick: forward 2: cannot listen on 127.0.0.1:" + busy + ": " + kAddressInUse + "\n"},
      {{"--console", "--destinaton=localhost:2007"},
       2,
       "Portwick: unknown option '--destinaton=localhost:2007'\n" + see_help},
      {{"--console", "--bogus"}, 2, "Portwick: unknown option '--bogus'\n" + see_help},
      {{"--console", "start", "--hostname=x"},
       2,
       "Portwick: unknown option '--hostname=x'\n" + see_help},
      {{"--console", "80"}, 2, "Portwick: unknown command '80'\n" + see_help},
      // A known option with a value it can't use.
      {{"--console", "--trace=colour"},
       2,
       "Portwick: unusable value in '--trace=colour'\n" + see_help},
      {{"--console", "--forward=80:host"},
       2,
       "Portwick: unusable value in '--forward=80:host'\n" + see_help},
      // A refused condition or limit says what is wrong with which value.
      {{"--console", "--condition=up:rate=0"},
       2,
       "Portwick: unusable value in '--condition=up:rate=0': rate '0' lets nothing pass: at "
       "least 1 (stall=0 stops a direction)\n" +
           see_help},

      {{"--console", "it's"}, 2, "Portwick: unknown command 'it's'\n" + see_help},
      // Spaces, quotes and backslashes reach the program as they were given.
      {{"--console", "say \"hi\\\" \\"},
       2,
       "Portwick: unknown command 'say \"hi\\\" \\'\n" + see_help},
      // The command help prints at once; the failure then has its message.
      {{"--console", "help", "--nope"}, 2, "Portwick: unknown option '--nope'\n" + see_help, help},
      // Ports outside 0..65535 are refused instead of cut to 16 bits.
      {{"--console", "--source=70000"}, 2, "Portwick: the local port 70000 is outside 0..65535\n"},
      {{"--console", "--source=-1"}, 2, "Portwick: the local port -1 is outside 0..65535\n"},
      {{"--console", "--source=0", "--destination=h:65536"},
       2,
       "Portwick: the remote port 65536 is outside 0..65535\n"},
      {{"--console", "--source=0", "--destination=-5"},
       2,
       "Portwick: the remote port -5 is outside 0..65535\n"},
      {{"--console", "--source=99999999999", "--destination=h:-1"},
       2,
       "Portwick: the local port 2147483647 is outside 0..65535\n"},
      {{"--console", "--bind=localhost"},
       2,
       "Portwick: cannot listen on 'localhost': not an IPv4 or IPv6 address\n"},
      {{"--console", "--bind=127.0.0.1:80"},
       2,
       "Portwick: cannot listen on '127.0.0.1:80': not an IPv4 or IPv6 address\n"},
      {{"--console", "--source=0", "--destination=127.0.0.1:9",
        "--pcap=/nonexistent-folder/x.pcapng"},
       1,
       "Portwick: cannot create the pcap file /nonexistent-folder/x.pcapng: No such file or "
       "directory\n"},
  };
  for (const Case& c : kCases) {
    std::string command_line;
    for (const std::string& arg : c.args) command_line += " " + arg;
    SCOPED_TRACE(command_line + (c.env.empty() ? "" : " with env " + c.env.back()));
    const Ended ended = RunToEnd(c.args, c.env);
    EXPECT_EQ(ended.code, c.code);
    EXPECT_EQ(ended.out, c.out);
    EXPECT_EQ(ended.err, c.err);
  }
}

TEST(ConsoleTest, HelpCommandPrintsHelpAndForwards) {
  PeerServer server(PeerServer::Mode::kEcho);
  Forwarding run = StartForwarding(server.Address(), {"help", "--output=off"});
  ASSERT_GT(run.port, 0);
  EXPECT_EQ(StopWith(*run.child, kTerminate), 0);
  EXPECT_EQ(run.child->stdout_text(), HelpTextWithLineFeeds(kProgramFile));
}

TEST(ConsoleTest, LogsTrafficToFileAndStdout) {
  struct Case {
    std::vector<std::string> options;
    bool on_stdout;
  };
  const Case kCases[] = {
      {{}, true},
      {{"--synch"}, true},
      {{"--output=off"}, false},
      {{"--synch", "--output=OFF"}, false},
  };
  const std::string text = "request\r\n";
  const std::string binary("a\0b\xff", 4);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options.empty() ? "queued" : c.options[0] + (c.on_stdout ? "" : " no output"));
    const fs::path log =
        fs::temp_directory_path() /
        ("portwick-console-" + std::to_string(testing::CurrentProcessId()) + ".log");
    fs::remove(log);
    PeerServer server(PeerServer::Mode::kEcho);
    std::vector<std::string> options = c.options;
    options.push_back("--filename=" + log.string());
    Forwarding run = StartForwarding(server.Address(), options);
    ASSERT_GT(run.port, 0);
    const std::unique_ptr<ChildProcess>& child = run.child;

    // Each chunk is echoed before the next is sent, so the log order is fixed.
    Socket client = EchoedClient(run.port, text);
    ASSERT_EQ(SendAndRead(client.fd(), client.fd(), binary, kTimeout), binary);
    if (c.on_stdout) {
      // The pane shows each chunk as text, unconverted, up to its first NUL.
      EXPECT_TRUE(child->WaitForStdout(text + text + "aa", kTimeout)) << child->stdout_text();
    }

    // Stopping releases the sinks, which deliver everything still queued.
    EXPECT_EQ(StopWith(*child, SIGINT), 0) << child->stderr_text();
    EXPECT_EQ(ReadFile(log), text + text + binary + binary);
    EXPECT_EQ(child->stdout_text(), c.on_stdout ? text + text + "aa" : "");
    fs::remove(log);
  }
}

// The trace takes standard output instead of the raw bytes; a failed
// connect is reported on standard error whatever the trace shows.
TEST(ConsoleTest, TraceReplacesTheRawBytesAndFailedConnectsGoToStderr) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> on_stdout;  // in this order
    bool with_bytes;                     // the escaped bytes appear too
  };
  const Case kCases[] = {
      {{"--trace"}, {" #1 open from 127.0.0.1:", " #1 connected to ", " #1 > 6 bytes\n"}, true},
      {{"--trace=hex"}, {" #1 > 6 bytes\n| 0000  61 00 62 0d 0a 5c ", "  |a.b..\\|\n"}, false},
      {{"--trace=events"}, {" #1 open from ", " #1 connected to "}, false},
  };
  const std::string bytes("a\0b\r\n\\", 6);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options[0]);
    PeerServer server(PeerServer::Mode::kEcho);
    Forwarding run = StartForwarding(server.Address(), c.options);
    ASSERT_GT(run.port, 0);
    EchoedClient(run.port, bytes);
    EXPECT_EQ(StopWith(*run.child, SIGINT), 0) << run.child->stderr_text();
    const std::string& out = run.child->stdout_text();
    size_t at = 0;
    for (const std::string& piece : c.on_stdout) {
      at = out.find(piece, at);
      ASSERT_NE(at, std::string::npos) << piece << " in:\n" << out;
    }
    EXPECT_EQ(out.find("| a\\0b\\r\n| \\\\\n") != std::string::npos, c.with_bytes) << out;
    EXPECT_NE(out.find(" #1 closed: "), std::string::npos) << out;
  }

  // A refused destination: the reason on stderr, with or without a trace.
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, std::vector<std::string>{"--trace=events"}}) {
    int refused_port = 0;
    Socket not_listening = testing::BoundButNotListening(&refused_port);
    const std::string destination = "127.0.0.1:" + std::to_string(refused_port);
    Forwarding run = StartForwarding(destination, options);
    ASSERT_GT(run.port, 0);
    const std::unique_ptr<ChildProcess>& child = run.child;
    Socket client = ConnectLoopback(run.port);
    ASSERT_TRUE(client.valid());
    const std::string report =
        "Portwick: #1 cannot connect to " + destination + ": Connection refused";
    EXPECT_TRUE(
        child->WaitForStderrLine([&](const std::string& line) { return line == report; }, kTimeout))
        << child->stderr_text();
    EXPECT_EQ(StopWith(*child, SIGINT), 0);
    if (!options.empty()) {
      EXPECT_NE(child->stdout_text().find(" #1 cannot connect to " + destination +
                                          ": Connection refused\n"),
                std::string::npos)
          << child->stdout_text();
    }
  }
}

// --trace and --pcap end to end: after a session that ended with a
// half-close each way, the trace on standard output and the capture file
// each hold every byte of both directions, unchanged.
TEST(ConsoleTest, TraceAndCaptureFileHoldEveryForwardedByte) {
  const std::string up = std::string("GET\0\r\n\xff", 7) + testing::PatternBytes(3000, 7);
  const std::string down = testing::PatternBytes(70000, 8);  // more than one packet holds
  const fs::path capture = fs::temp_directory_path() /
                           ("portwick-capture-" + std::to_string(testing::CurrentProcessId()));
  for (const auto& [option, body] : {std::pair{"--trace", testing::TraceBody::kText},
                                     {"--trace=hex", testing::TraceBody::kHex}}) {
    SCOPED_TRACE(option);
    fs::remove(capture);
    testing::TestServer server;
    Forwarding run = StartForwarding("127.0.0.1:" + std::to_string(server.port()),
                                     {option, "--pcap=" + capture.string()});
    ASSERT_GT(run.port, 0);
    Socket client = ConnectLoopback(run.port);
    Socket destination = server.WaitAccept();
    ASSERT_TRUE(destination.valid());
    ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), up, kTimeout), up);
    ASSERT_EQ(SendAndRead(destination.fd(), client.fd(), down, kTimeout), down);
    sockets::ShutdownWrite(client.fd());
    EXPECT_EQ(ReadUntilEnd(destination.fd(), kTimeout).end, StreamEnd::kEof);
    sockets::ShutdownWrite(destination.fd());
    EXPECT_EQ(ReadUntilEnd(client.fd(), kTimeout).end, StreamEnd::kEof);
    Endpoint client_end;
    ASSERT_EQ(sockets::LocalEndpoint(client.fd(), &client_end), 0);
    client.Reset();
    destination.Reset();
    ASSERT_TRUE(run.child->WaitForStdout(" #1 closed: ", kTimeout)) << run.child->stdout_text();
    ASSERT_EQ(StopWith(*run.child, SIGINT), 0) << run.child->stderr_text();

    const testing::DecodedTrace trace = testing::DecodeTrace(run.child->stdout_text(), body);
    ASSERT_TRUE(trace.ok) << trace.error;
    const std::map<std::pair<std::string, char>, std::string> expected = {{{"1", '>'}, up},
                                                                          {{"1", '<'}, down}};
    for (const auto& [key, bytes] : trace.streams) {
      EXPECT_TRUE(expected.count(key) && expected.at(key) == bytes)
          << key.first << key.second << " " << bytes.size() << " bytes";
    }
    EXPECT_EQ(trace.streams.size(), expected.size());

    std::string error;
    const std::optional<std::vector<testing::TcpSegment>> segments =
        testing::ReadTcpSegments(ReadFile(capture), &error);
    ASSERT_TRUE(segments) << error;
    ASSERT_FALSE(segments->empty());
    EXPECT_EQ(segments->front().flags, 0x02) << "a SYN from the client first";
    EXPECT_EQ(segments->front().from_port, client_end.port());
    std::string from_client, to_client;
    int fins = 0;
    for (const testing::TcpSegment& segment : *segments) {
      const bool from = segment.from_port == client_end.port();
      EXPECT_TRUE(from || segment.to_port == client_end.port());
      (from ? from_client : to_client) += segment.payload;
      fins += (segment.flags & 0x01) != 0;
    }
    EXPECT_TRUE(from_client == up);
    EXPECT_TRUE(to_client == down);
    EXPECT_EQ(fins, 2);
  }
  fs::remove(capture);
}

TEST(ConsoleTest, SeveralForwardsInOneProcess) {
  PeerServer first(PeerServer::Mode::kEcho);
  PeerServer second(PeerServer::Mode::kEcho);
  const std::string forward1 = "--forward=127.0.0.1:0:127.0.0.1:" + std::to_string(first.port());
  const std::string forward2 = "--forward=0:127.0.0.1:" + std::to_string(second.port());
  auto child = StartPortwick({"--console", forward1, forward2, "--trace=events"});
  ASSERT_TRUE(child);
  std::vector<int> ports;
  for (int forward = 1; forward <= 2; ++forward) {
    const std::string prefix = "Portwick: forward " + std::to_string(forward) + ": forwarding ";
    const std::optional<std::string> line = child->WaitForStderrLine(
        [&](const std::string& text) { return text.starts_with(prefix); }, kTimeout);
    ASSERT_TRUE(line) << child->stderr_text();
    // "127.0.0.1:PORT -> ..." for a given address, "*:PORT -> ..." otherwise.
    const std::string listening = line->substr(prefix.size(), line->find(" -> ") - prefix.size());
    EXPECT_EQ(listening.starts_with(forward == 1 ? "127.0.0.1:" : "*:"), true) << *line;
    ports.push_back(std::stoi(listening.substr(listening.find(':') + 1)));
  }
  for (size_t i = 0; i < ports.size(); ++i) {
    Socket client = ConnectLoopback(ports[i]);
    ASSERT_TRUE(client.valid());
    const std::string hello = "to forward " + std::to_string(i + 1);
    ASSERT_EQ(SendAndRead(client.fd(), client.fd(), hello, kTimeout), hello);
  }
  EXPECT_EQ(StopWith(*child, kTerminate), 0) << child->stderr_text();
  EXPECT_NE(child->stdout_text().find(" #1.1 open from "), std::string::npos);
  EXPECT_NE(child->stdout_text().find(" #2.1 closed: "), std::string::npos);
}

TEST(ConsoleTest, SecondSignalEndsAStopThatCannotFinish) {
  PeerServer server(PeerServer::Mode::kDiscard);
  // Nobody reads the child's stdout: once the pipe is full, the pane can't
  // deliver what its queue holds, so releasing the sinks can't finish.
  Forwarding run = StartForwarding(server.Address(), {}, /*read_stdout=*/false);
  ASSERT_GT(run.port, 0);
  ChildProcess* child = run.child.get();
  Socket client = ConnectLoopback(run.port);
  const std::string payload(1 << 20, 'x');  // far more than a pipe holds
  ASSERT_TRUE(SendBytes(client.fd(), payload));
  ASSERT_TRUE(server.WaitForBytes(payload.size(), kTimeout));

  // Two different signals, so that neither is merged into the other while
  // pending. The first starts the stop, the second ends the process.
  ASSERT_TRUE(child->Signal(SIGINT));
  ASSERT_TRUE(child->Signal(SIGTERM));
  const int code = ExitCode(child->WaitForExit(kTimeout));
  EXPECT_TRUE(code == 128 + SIGINT || code == 128 + SIGTERM) << "exit code " << code;
}

#if !defined(_WIN32)
// Waits until a thread of process `pid` is blocked in a kernel function
// whose name holds `function` (as /proc shows it; kernels name the pipe
// write pipe_write or anon_pipe_write).
bool WaitForThreadIn(pid_t pid, const std::string& function) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
      if (ReadFile(task.path() / "wchan").find(function) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// A log target that blocks for good must not keep the program from
// stopping: the stop gives up after its time limit, says what was not
// delivered and ends with exit code 1. A FIFO nobody has open must not block
// the log's open either: its records are lost, said once and counted.
TEST(ConsoleTest, ABlockedLogTargetNeitherHangsTheStopNorLosesRecordsSilently) {
  const fs::path folder =
      fs::temp_directory_path() / ("portwick-fifo-" + std::to_string(testing::CurrentProcessId()));
  fs::create_directories(folder);
  const std::string fifo = (folder / "traffic.fifo").string();
  struct Case {
    const char* name;
    std::vector<std::string> options;
    bool fifo_reader;  // a reader that never reads holds the FIFO open
    bool read_stdout;  // false: standard output is a pipe nobody reads
    std::string stderr_part;
  };
  const Case kCases[] = {
      {"FIFO without a reader",
       {"--output=off", "--filename=" + fifo},
       false,
       true,
       "records (1048576 bytes) could not be written to the log file"},
      {"FIFO that is never read, queued",
       {"--output=off", "--filename=" + fifo},
       true,
       true,
       "not written to the log file"},
      {"FIFO that is never read, synchronous",
       {"--output=off", "--synch", "--filename=" + fifo},
       true,
       true,
       "still being logged"},
      {"standard output never read", {}, false, false, "not shown in the output"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = c.fifo_reader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    PeerServer server(PeerServer::Mode::kDiscard);
    Forwarding run = StartForwarding(server.Address(), c.options, c.read_stdout);
    ASSERT_GT(run.port, 0);
    const std::unique_ptr<ChildProcess>& child = run.child;
    Socket client = ConnectLoopback(run.port);
    // Far more than a pipe holds; in synchronous mode forwarding stalls
    // behind the blocked log, so the client may not get it all sent.
    const std::string payload(1 << 20, 'x');
    std::thread sender([&] { SendBytes(client.fd(), payload); });
    // Ends the sender whatever happens: its connection ends with the child.
    struct EndSender {
      ChildProcess& child;
      std::thread& sender;
      ~EndSender() {
        child.Signal(SIGKILL);
        sender.join();
      }
    } end_sender{*child, sender};
    if (c.fifo_reader) {
      // Wait until a thread of the child is blocked writing to the FIFO.
      ASSERT_TRUE(WaitForThreadIn(child->pid(), "pipe_write")) << "no write blocked";
    } else {
      ASSERT_TRUE(server.WaitForBytes(payload.size(), kTimeout));
    }
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(child->Signal(SIGINT));
    EXPECT_EQ(ExitCode(child->WaitForExit(kTimeout)), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 15s);
    child->DrainOutput(kTimeout);
    EXPECT_NE(child->stderr_text().find(c.stderr_part), std::string::npos) << child->stderr_text();
    if (!c.fifo_reader && c.read_stdout) {
      // Said once when the first record was lost, whatever followed.
      EXPECT_NE(child->stderr_text().find("cannot write the traffic log file \"" + fifo + "\""),
                std::string::npos)
          << child->stderr_text();
    }
    if (reader >= 0) close(reader);
  }
  fs::remove_all(folder);
}
#endif  // !_WIN32

}  // namespace
}  // namespace portwick
