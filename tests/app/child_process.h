#ifndef PORTWICK_TESTS_APP_CHILD_PROCESS_H_
#define PORTWICK_TESTS_APP_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portwick::testing {

// A child process with its standard output and error read through pipes and
// its standard input on /dev/null (NUL). Every wait has a deadline. The
// destructor kills (SIGKILL, TerminateProcess) and reaps a child that is
// still running. One test thread uses an instance. Implemented per platform
// (posix/, windows/); on Windows the child gets a console of its own, so that
// Signal can send it the console's stop events.
class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> argv;  // argv[0] is the path executed
    // "NAME=value" entries; when empty the child inherits the environment.
    std::vector<std::string> env;
    std::string working_directory;  // empty: the test's own
    // When false, standard output goes to a pipe that is never read, so the
    // child blocks once the pipe is full.
    bool read_stdout = true;
    // Standard descriptors (0, 1, 2) the child starts with closed. POSIX only.
    std::vector<int> closed_descriptors;
    // When not 0, the child's descriptor limit (soft and hard). POSIX only.
    int descriptor_limit = 0;
  };

  // Returns null (with the reason in `*error`) when the child can't be made.
  static std::unique_ptr<ChildProcess> Start(const Options& options, std::string* error);

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Sends the signal. On Windows SIGINT and SIGBREAK are sent as the
  // console's Ctrl+C and Ctrl+Break events, and there are no others.
  bool Signal(int signal_number);
  pid_t pid() const { return pid_; }

  // The raw wait status (on Windows the exit code) once the child has ended
  // within `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

  // Reads standard error until a whole line satisfies `match` and returns that
  // line (without its LF); nullopt on time-out or end of file.
  std::optional<std::string> WaitForStderrLine(const std::function<bool(const std::string&)>& match,
                                               std::chrono::milliseconds timeout);

  // Reads standard output until it holds `needle` (true) or the time-out or
  // end of file comes first (false).
  bool WaitForStdout(const std::string& needle, std::chrono::milliseconds timeout);

  // Reads both pipes to their end (the child has ended or closed them) within
  // `timeout`.
  void DrainOutput(std::chrono::milliseconds timeout);

  const std::string& stdout_text() const { return stdout_text_; }
  const std::string& stderr_text() const { return stderr_text_; }

 private:
  ChildProcess() = default;
  // Reads whatever is available from either pipe, waiting at most until
  // `deadline` for output or for the child's end; false when nothing more can
  // come (both pipes at end) or the deadline has passed.
  bool ReadSome(std::chrono::steady_clock::time_point deadline);

  // Collects the ended child's status (blocks until it has ended).
  void Reap();

  // True while the pipe can still bring output that is read.
  bool stdout_open() const;
  bool stderr_open() const;

  bool read_stdout_ = true;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exit_status_ = 0;
#if defined(_WIN32)
  void* stdout_pipe_ = nullptr;  // handles, null once closed
  void* stderr_pipe_ = nullptr;
  void* process_ = nullptr;
#else
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  int pid_fd_ = -1;  // readable once the child has ended
#endif
  std::string stdout_text_;
  std::string stderr_text_;
  size_t stderr_scanned_ = 0;  // bytes of stderr_text_ already offered as lines
};

// Runs `options` to its end (at most `timeout`) and returns the raw wait status.
std::optional<int> RunToExit(const ChildProcess::Options& options,
                             std::chrono::milliseconds timeout);

// The exit code in a status WaitForExit returned; -1 when there is none or
// the child did not exit normally (a POSIX signal ended it).
int ExitCode(const std::optional<int>& status);

// This test process's id.
int CurrentProcessId();

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_APP_CHILD_PROCESS_H_
