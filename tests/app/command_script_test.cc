#include "run/command_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <process.h>

#include <atomic>
#endif

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "child_process.h"
#include "read_file.h"

namespace portwick {
namespace {

namespace fs = std::filesystem;
using std::chrono_literals::operator""s;
using testing::ReadFile;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
#if defined(_WIN32)
    // No mkdtemp: create_directory fails rather than reuse a folder.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() /
          ("portwick-script-" + std::to_string(::_getpid()) + "-" + std::to_string(counter++));
      std::error_code error;
      if (fs::create_directory(candidate, error)) path_ = candidate;
    }
#else
    std::string pattern = (fs::temp_directory_path() / "portwick-script-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

CommandScriptValues Values(std::string program, int local_port, std::string host, int remote_port,
                           bool write_to_file, std::string file) {
  CommandScriptValues values;
  values.program_path = std::move(program);
  values.local_port = local_port;
  values.remote_host = std::move(host);
  values.remote_port = remote_port;
  values.write_to_file = write_to_file;
  values.log_file_name = std::move(file);
  return values;
}

TEST(BuildCommandScriptTest, ExactBytes) {
  struct Case {
    CommandScriptValues values;
    std::string expected;
  };
  const std::string kProgram = "/opt/portwick/bin/portwick";
  const Case kCases[] = {
      {Values(kProgram, 1999, "localhost", 2007, false, "ignored.log"),
       "/opt/portwick/bin/portwick --source=1999 --destination=localhost:2007 "},
      {Values(kProgram, 1999, "localhost", 2007, true, "traffic.log"),
       "/opt/portwick/bin/portwick --source=1999 --destination=localhost:2007  "
       "--filename=\"traffic.log\" start \n"},
      {Values(kProgram, 1999, "localhost", 2007, true, ""),
       "/opt/portwick/bin/portwick --source=1999 --destination=localhost:2007  "
       "--filename=\"\" start \n"},
      // Ordinary values stay bare, whatever plain characters they hold.
      {Values("build/app/portwick", 7, "user@db-1.example.com", -3, true,
              "/var/log/a_b,c+d%e=f.log"),
       "build/app/portwick --source=7 --destination=user@db-1.example.com:-3  "
       "--filename=\"/var/log/a_b,c+d%e=f.log\" start \n"},
      {Values("portwick", INT_MIN, "10.0.0.5", INT_MAX, false, ""),
       "portwick --source=-2147483648 --destination=10.0.0.5:2147483647 "},
      {Values("portwick", 0, "", 0, false, ""), "portwick --source=0 --destination=:0 "},
      // Other values are quoted.
      {Values("/opt/my apps/portwick", 1, "x; rm -rf ~", 2, false, ""),
       "'/opt/my apps/portwick' --source=1 --destination='x; rm -rf ~':2 "},
      {Values("/opt/it's/portwick", 1, "it's", 2, false, ""),
       "'/opt/it'\\''s/portwick' --source=1 --destination='it'\\''s':2 "},
      {Values("p", 1, "h", 2, true, "a\"b$c`d\\e 'f'.log"),
       "p --source=1 --destination=h:2  --filename=\"a\\\"b\\$c\\`d\\\\e 'f'.log\" start \n"},
      // A first word with '=' would be an assignment, a reserved word not a command.
      {Values("a=b/portwick", 1, "h", 2, false, ""),
       "'a=b/portwick' --source=1 --destination=h:2 "},
      {Values("if", 1, "h", 2, false, ""), "'if' --source=1 --destination=h:2 "},
      {Values("", 1, "h", 2, false, ""), "'' --source=1 --destination=h:2 "},
      // A host with ':' or a leading '[' goes in brackets, which the shell
      // must not take for a pattern.
      {Values("p", 1, "::1", 2007, false, ""), "p --source=1 --destination='[::1]':2007 "},
      {Values("p", 1, "fe80::1%lo", 80, false, ""),
       "p --source=1 --destination='[fe80::1%lo]':80 "},
      {Values("p", 1, "[::1]", 2, false, ""), "p --source=1 --destination='[[::1]]':2 "},
      {Values("p", 1, "[x", 2, false, ""), "p --source=1 --destination='[[x]':2 "},
      {Values("p", 1, "x]", 2, false, ""), "p --source=1 --destination='x]':2 "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(BuildShellScript(c.values), c.expected);
  }
}

// The .cmd form: program always quoted, other values bare when plain,
// '%' doubled, backslashes before a closing quote doubled, CR LF at the end.
// (tests/windows runs such a script under cmd.exe.)
TEST(BuildCmdScriptTest, ExactBytesAndRefusals) {
  struct Case {
    CommandScriptValues values;
    std::string expected;
  };
  const Case kCases[] = {
      {Values("p", 1, "::1", 2, true, "C:\\logs\\"),
       "\"p\" --source=1 --destination=[::1]:2  --filename=\"C:\\logs\\\\\" start \r\n"},
      {Values("C:\\a%b&c\\p.exe", 1, "h&x|y^z<w>(v)", 2, true, "%PATH% a.log"),
       "\"C:\\a%%b&c\\p.exe\" --source=1 --destination=\"h&x|y^z<w>(v)\":2  "
       "--filename=\"%%PATH%% a.log\" start \r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(CmdScriptProblem(c.values), "");
    EXPECT_EQ(BuildCmdScript(c.values), c.expected);
  }
  // Limits and conditions as in the shell script; a condition's ',' and '='
  // go inside quotes.
  CommandScriptValues conditioned = Values("p", 1, "h", 2, false, "");
  conditioned.limits.idle_timeout = std::chrono::seconds(30);
  conditioned.conditions = {*ParseCondition("down:delay=100ms,jitter=10ms", nullptr)};
  EXPECT_EQ(BuildCmdScript(conditioned),
            "\"p\" --source=1 --destination=h:2 --idle-timeout=30s "
            "--condition=\"down:delay=100ms,jitter=10ms\" ");
  EXPECT_NE(CmdScriptProblem(Values("p", 1, "a\"&calc", 2, false, "")), "");
  EXPECT_NE(CmdScriptProblem(Values("p", 1, "h", 2, true, "a\r\nstart calc")), "");
  EXPECT_EQ(CmdScriptProblem(Values("p", 1, "h", 2, false, "not \"written\"")), "");
}

TEST(BuildCommandScriptTest, BindAddressOnlyWhenGiven) {
  struct Case {
    std::string bind;
    std::string expected;
  };
  const Case kCases[] = {
      {"", "p --source=1 --destination=h:2  --filename=\"f\" start \n"},
      {"127.0.0.1", "p --source=1 --bind=127.0.0.1 --destination=h:2  --filename=\"f\" start \n"},
      {"::", "p --source=1 --bind=:: --destination=h:2  --filename=\"f\" start \n"},
      {"[::1]", "p --source=1 --bind='[::1]' --destination=h:2  --filename=\"f\" start \n"},
      {"fe80::1%lo", "p --source=1 --bind=fe80::1%lo --destination=h:2  --filename=\"f\" start \n"},
      {"$(x) y", "p --source=1 --bind='$(x) y' --destination=h:2  --filename=\"f\" start \n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.bind);
    CommandScriptValues values = Values("p", 1, "h", 2, true, "f");
    values.bind_address = c.bind;
    EXPECT_EQ(BuildShellScript(values), c.expected);
  }
}

// Runs a script with a real shell. The program path in the script leads to a
// recorder that appends its argument vector, NUL-separated and closed by an
// end marker, to a record file. Values that reach a shell unquoted would make
// it run "touch pwned" or "rm -rf ~" (with HOME inside the test directory).
class ScriptRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "runs the script with /bin/sh";
#endif
    ASSERT_FALSE(dir_.path().empty());
    fs::create_directory(home());
  }

  fs::path home() const { return dir_.path() / "home"; }
  fs::path record() const { return dir_.path() / "record"; }

  // Creates the recorder at `relative` (inside the test directory).
  void MakeRecorder(const std::string& relative) {
    const fs::path path = dir_.path() / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n"
                           "for a in \"$0\" \"$@\"; do printf '%s' \"$a\"; printf '\\000'; done "
                           ">> \"$RECORD\"\n"
                           "printf 'END\\000' >> \"$RECORD\"\n";
    fs::permissions(path, fs::perms::owner_all);
  }

  // Writes `values` as a script, runs it with sh in the test directory and
  // returns the argument vectors the recorder saw.
  std::vector<std::vector<std::string>> RunScript(const CommandScriptValues& values) {
    const fs::path script = dir_.path() / "restore.sh";
    EXPECT_EQ(WriteCommandScript(script.string(), BuildCommandScript(values)),
              ScriptFileResult::kWritten);
#if !defined(_WIN32)
    testing::ChildProcess::Options options;
    options.argv = {"/bin/sh", script.string()};
    options.env = {"HOME=" + home().string(), "PATH=/usr/bin:/bin", "RECORD=" + record().string()};
    options.working_directory = dir_.path().string();
    const std::optional<int> status = testing::RunToExit(options, 20s);
    EXPECT_TRUE(status.has_value());
#endif
    std::vector<std::vector<std::string>> runs(1);
    const std::string text = ReadFile(record().string());
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
      const std::string item = text.substr(start, end - start);
      if (item == "END") {
        runs.emplace_back();
      } else {
        runs.back().push_back(item);
      }
    }
    runs.pop_back();  // the empty vector after the last END
    fs::remove(record());
    return runs;
  }

  TempDir dir_;
};

TEST_F(ScriptRoundTripTest, AwkwardValuesComeBackUnchanged) {
  struct Case {
    std::string recorder;  // relative to the test directory
    bool relative_program_path;
    int local_port;
    std::string host;
    int remote_port;
    bool write_to_file;
    std::string file;
  };
  const Case kCases[] = {
      {"plain/rec", false, 1999, "localhost", 2007, true, "traffic.log"},
      {"with space/port wick", false, 1, "my host", 2, true, "my log.txt"},
      {"it's \"q\"/rec", false, 3, "it's", 4, true, "it's \"quoted\".log"},
      {"semi;colon/r", false, 5, "x; rm -rf ~", 6, true, "x; rm -rf ~"},
      {"dollar$HOME/r", false, 7, "$(touch pwned)", 8, true, "$(touch pwned)"},
      {"back`tick`/r", false, 9, "`touch pwned`", 0, true, "`touch pwned`"},
      {"a=b/rec", true, 0, "a|b&c>pwned<d", 9, true, "a|b&c>pwned"},
      {"new\nline/r", false, -1, "*", -2147483647 - 1, true, "back\\slash\\"},
      {"glob*?[x]/r", false, 2147483647, "~", -9, true, "~/\\$HOME \\\" '"},
      {"tab\there/r", false, 4, "", 5, true, ""},
      {"plain/rec", false, 6, "trailing space ", 7, false, "not written"},
      {"plain/rec", false, -5, "{a,b}", 8, true, "line\nbreak !x"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE("host [" + c.host + "] file [" + c.file + "]");
    MakeRecorder(c.recorder);
    const std::string program =
        c.relative_program_path ? c.recorder : (dir_.path() / c.recorder).string();
    const CommandScriptValues values =
        Values(program, c.local_port, c.host, c.remote_port, c.write_to_file, c.file);
    const std::vector<std::vector<std::string>> runs = RunScript(values);
    ASSERT_EQ(runs.size(), 1u) << "the script must run the program exactly once";
    EXPECT_EQ(runs[0][0], program);
    ProxySettings settings;
    EXPECT_EQ(ParseCommandLine(runs[0], &settings, nullptr), ParseStatus::kSuccess);
    EXPECT_EQ(settings.local_port, c.local_port);
    EXPECT_EQ(settings.remote_host, c.host);
    EXPECT_EQ(settings.remote_port, c.remote_port);
    EXPECT_EQ(settings.log_file_name, c.write_to_file ? c.file : "");
    EXPECT_EQ(settings.autostart, c.write_to_file);
    EXPECT_FALSE(fs::exists(dir_.path() / "pwned"));
    EXPECT_FALSE(fs::exists(home() / "pwned"));
    EXPECT_TRUE(fs::exists(home())) << "rm -rf ~ ran";
  }
}

TEST_F(ScriptRoundTripTest, EndpointFormsComeBackUnchanged) {
  struct Case {
    std::string bind;
    std::string host;
  };
  const Case kCases[] = {
      {"", "::1"},
      {"127.0.0.1", "[::1]"},
      {"::", "fe80::1%lo"},
      {"[::1]", "[fe80::1%lo]"},
      {"fe80::1%lo", "2001:db8::a:b"},
      {"[fe80::1%lo]", "::ffff:127.0.0.1"},
      {"0.0.0.0", "localhost"},
      {"::1", ""},
      {"", "a:b"},
      {"", "[x"},
      {"", "x]"},
      {"", "a]:5"},
      {"", "x:]"},
      {"", ":"},
      {"", "[]"},
      {"", "*[::1]?"},
  };
  MakeRecorder("plain/rec");
  // A file that the unquoted pattern [::1] would match.
  std::ofstream(dir_.path() / "--destination=1:2007") << "";
  const std::string program = (dir_.path() / "plain/rec").string();
  for (const Case& c : kCases) {
    SCOPED_TRACE("bind [" + c.bind + "] host [" + c.host + "]");
    CommandScriptValues values = Values(program, 1999, c.host, 2007, true, "t.log");
    values.bind_address = c.bind;
    const std::vector<std::vector<std::string>> runs = RunScript(values);
    ASSERT_EQ(runs.size(), 1u);
    ProxySettings settings;
    ASSERT_EQ(ParseCommandLine(runs[0], &settings, nullptr), ParseStatus::kSuccess);
    EXPECT_EQ(settings.bind_address, c.bind);
    EXPECT_EQ(settings.remote_host, c.host);
    EXPECT_EQ(settings.local_port, 1999);
    EXPECT_EQ(settings.remote_port, 2007);
    EXPECT_EQ(settings.log_file_name, "t.log");
  }
}

TEST_F(ScriptRoundTripTest, SingleDigitPortsComeBackUnchanged) {
  MakeRecorder("plain/rec");
  const std::string program = (dir_.path() / "plain/rec").string();
  for (int port = -9; port <= 9; ++port) {
    SCOPED_TRACE(port);
    const std::vector<std::vector<std::string>> runs =
        RunScript(Values(program, port, "h", port, false, ""));
    ASSERT_EQ(runs.size(), 1u);
    ProxySettings settings;
    ASSERT_EQ(ParseCommandLine(runs[0], &settings, nullptr), ParseStatus::kSuccess);
    EXPECT_EQ(settings.local_port, port);
    EXPECT_EQ(settings.remote_port, port);
    EXPECT_FALSE(settings.autostart);
  }
}

// Limits and conditions come after the destination, in the order given, and
// come back through a real shell as the same settings.
TEST_F(ScriptRoundTripTest, LimitsAndConditionsComeBack) {
  MakeRecorder("plain/rec");
  const std::string program = (dir_.path() / "plain/rec").string();
  CommandScriptValues values = Values(program, 1, "h", 2, true, "f");
  values.limits.connect_timeout = std::chrono::milliseconds(2500);
  values.limits.idle_timeout = std::chrono::minutes(1);
  values.limits.max_sessions = 10;
  for (const char* text :
       {"down:delay=100ms,jitter=10ms", "up:rate=64K,probability=0.125", "both:cut=4097,end=reset",
        "up:slice=1,pause=1s", "down:stall=0", "up:close-delay=3s"}) {
    values.conditions.push_back(*ParseCondition(text, nullptr));
  }
  const std::string script = BuildCommandScript(values);
  EXPECT_EQ(script.substr(program.size()),
            " --source=1 --destination=h:2 --connect-timeout=2500ms --idle-timeout=1m "
            "--max-sessions=10 --condition=down:delay=100ms,jitter=10ms "
            "--condition=up:rate=64K,probability=0.125 --condition=both:cut=4097,end=reset "
            "--condition=up:slice=1,pause=1s --condition=down:stall=0 "
            "--condition=up:close-delay=3s  --filename=\"f\" start \n");
  const std::vector<std::vector<std::string>> runs = RunScript(values);
  ASSERT_EQ(runs.size(), 1u);
  ProxySettings settings;
  ASSERT_EQ(ParseCommandLine(runs[0], &settings, nullptr), ParseStatus::kSuccess);
  EXPECT_EQ(settings.limits, values.limits);
  EXPECT_EQ(settings.conditions, values.conditions);
}

TEST(WriteCommandScriptTest, CreatesReplacesAndReportsFailures) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = (dir.path() / "a.cmd").string();

  EXPECT_EQ(WriteCommandScript(path, "first text that is long\n"), ScriptFileResult::kWritten);
  EXPECT_EQ(ReadFile(path), "first text that is long\n");
  // An existing file is replaced, not appended to.
  EXPECT_EQ(WriteCommandScript(path, "short"), ScriptFileResult::kWritten);
  EXPECT_EQ(ReadFile(path), "short");
  // Larger than a pipe or page, so it takes more than one write on some systems.
  const std::string big(1 << 20, 'x');
  EXPECT_EQ(WriteCommandScript(path, big), ScriptFileResult::kWritten);
  EXPECT_EQ(ReadFile(path), big);

  EXPECT_EQ(WriteCommandScript((dir.path() / "missing/a.cmd").string(), "x"),
            ScriptFileResult::kCannotCreate);
  EXPECT_EQ(WriteCommandScript(dir.path().string(), "x"), ScriptFileResult::kCannotCreate);
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(WriteCommandScript("/dev/full", "x"), ScriptFileResult::kWriteFailed);
  }
  EXPECT_EQ(CannotCreateMessage("/tmp/a b.cmd"), "Cannot create \"/tmp/a b.cmd\" file.");
}

}  // namespace
}  // namespace portwick
