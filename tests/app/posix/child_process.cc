// ChildProcess (child_process.h) on POSIX: fork and exec, pipes, and a pid
// descriptor to wait for the end with poll.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace portwick::testing {

namespace {

std::vector<char*> CStrings(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const Options& options, std::string* error) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    return nullptr;
  }
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    close(out_pipe[0]);
    close(out_pipe[1]);
    return nullptr;
  }
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<char*> argv = CStrings(options.argv);
  std::vector<char*> env = CStrings(options.env);
  const char* cwd = options.working_directory.empty() ? nullptr : options.working_directory.c_str();
  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + strerror(errno);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    return nullptr;
  }
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_pipe[1], 1) < 0 ||
        dup2(err_pipe[1], 2) < 0) {
      _exit(126);
    }
    // Nothing else the test process holds (the test runner's own files
    // included) reaches the child, so its descriptor budget is the same
    // however the test is run.
    close_range(3, ~0u, 0);
    for (const int fd : options.closed_descriptors) close(fd);
    if (options.descriptor_limit > 0) {
      const rlimit limit = {static_cast<rlim_t>(options.descriptor_limit),
                            static_cast<rlim_t>(options.descriptor_limit)};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    }
    if (cwd != nullptr && chdir(cwd) != 0) _exit(126);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    if (options.env.empty()) {
      execv(argv[0], argv.data());
    } else {
      execve(argv[0], argv.data(), env.data());
    }
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::unique_ptr<ChildProcess> child(new ChildProcess());
  child->pid_ = pid;
  child->read_stdout_ = options.read_stdout;
  child->stdout_fd_ = out_pipe[0];
  child->stderr_fd_ = err_pipe[0];
  // Readable once the child has ended, so waits can poll for it with a deadline.
  child->pid_fd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (child->pid_fd_ < 0) {
    *error = std::string("pidfd_open: ") + strerror(errno);
    return nullptr;
  }
  return child;
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    Reap();
  }
  CloseIfOpen(stdout_fd_);
  CloseIfOpen(stderr_fd_);
  CloseIfOpen(pid_fd_);
}

bool ChildProcess::Signal(int signal_number) { return !reaped_ && kill(pid_, signal_number) == 0; }

void ChildProcess::Reap() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  exit_status_ = status;
}

bool ChildProcess::ReadSome(std::chrono::steady_clock::time_point deadline) {
  pollfd fds[3];
  int count = 0;
  if (stdout_fd_ >= 0 && read_stdout_) fds[count++] = {stdout_fd_, POLLIN, 0};
  if (stderr_fd_ >= 0) fds[count++] = {stderr_fd_, POLLIN, 0};
  if (!reaped_) fds[count++] = {pid_fd_, POLLIN, 0};
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline || count == 0) return false;
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
  const int ready = poll(fds, count, static_cast<int>(wait.count()) + 1);
  if (ready <= 0) return ready < 0 && errno == EINTR;
  for (int i = 0; i < count; ++i) {
    if (fds[i].fd == pid_fd_) {
      if (fds[i].revents != 0) Reap();
      continue;
    }
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[4096];
    const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
    const bool is_stdout = fds[i].fd == stdout_fd_;
    if (n > 0) {
      (is_stdout ? stdout_text_ : stderr_text_).append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      CloseIfOpen(is_stdout ? stdout_fd_ : stderr_fd_);
    }
  }
  return stdout_open() || stderr_open();
}

bool ChildProcess::stdout_open() const { return stdout_fd_ >= 0 && read_stdout_; }

bool ChildProcess::stderr_open() const { return stderr_fd_ >= 0; }

int ExitCode(const std::optional<int>& status) {
  if (!status || !WIFEXITED(*status)) return -1;
  return WEXITSTATUS(*status);
}

int CurrentProcessId() { return static_cast<int>(getpid()); }

}  // namespace portwick::testing
