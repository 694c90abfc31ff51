// ChildProcess (child_process.h) on Windows: CreateProcessW with pipes for
// standard output and error and a console of its own (hidden), so that
// Signal can send it Ctrl+C or Ctrl+Break without reaching the test. Pipes
// can't be waited on, so ReadSome takes what they hold and otherwise waits
// on the process in short steps.
#include "child_process.h"

#include <process.h>
#include <windows.h>

#include <algorithm>
#include <csignal>

#include "base/windows/win32_text.h"

namespace portwick::testing {

namespace {

constexpr std::chrono::milliseconds kStep{5};

// One argument as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes double only before a quote, which gets one of its own.
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// A program path of the Linux host running Wine (a cross build's targets)
// as Wine sees it: on drive Z:.
std::wstring ProgramPath(const std::string& path) {
  std::wstring wide = Utf16FromUtf8(path);
  if (wide.starts_with(L"/")) {
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    wide = L"Z:" + wide;
  }
  return wide;
}

void CloseIfOpen(void*& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

// Ctrl+C and Ctrl+Break sent to a child's console reach this process too
// while it is attached there: it ignores them.
BOOL WINAPI IgnoreStopEvents(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const Options& options, std::string* error) {
  if (!options.closed_descriptors.empty() || options.descriptor_limit != 0) {
    *error = "closed descriptors and descriptor limits are POSIX only";
    return nullptr;
  }
  std::unique_ptr<ChildProcess> child(new ChildProcess());
  child->read_stdout_ = options.read_stdout;
  // Inherited handles: only the child's ends (the test makes its children
  // from one thread, and its sockets are never inherited).
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE out_write = nullptr;
  HANDLE err_write = nullptr;
  const HANDLE null_input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherited, OPEN_EXISTING, 0, nullptr);
  const bool piped = CreatePipe(&child->stdout_pipe_, &out_write, &inherited, 0) &&
                     CreatePipe(&child->stderr_pipe_, &err_write, &inherited, 0) &&
                     SetHandleInformation(child->stdout_pipe_, HANDLE_FLAG_INHERIT, 0) &&
                     SetHandleInformation(child->stderr_pipe_, HANDLE_FLAG_INHERIT, 0);

  // argv[0] as given; the program runs from its path as Wine sees it.
  std::wstring command_line;
  for (const std::string& argument : options.argv) {
    if (!command_line.empty()) command_line += L' ';
    command_line += Quoted(Utf16FromUtf8(argument));
  }
  std::wstring environment;  // "NAME=value\0" each, then one more "\0"
  for (const std::string& entry : options.env) environment += Utf16FromUtf8(entry) + L'\0';
  environment += L'\0';
  const std::wstring directory = Utf16FromUtf8(options.working_directory);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = null_input;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  const bool started =
      piped && null_input != INVALID_HANDLE_VALUE &&
      CreateProcessW(ProgramPath(options.argv.at(0)).c_str(), command_line.data(), nullptr, nullptr,
                     TRUE, CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT,
                     options.env.empty() ? nullptr : environment.data(),
                     directory.empty() ? nullptr : directory.c_str(), &startup, &process);
  const DWORD failure = GetLastError();
  for (HANDLE h : {out_write, err_write, null_input}) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (!started) {
    *error = "CreateProcessW: error " + std::to_string(failure);
    child->reaped_ = true;  // nothing to end
    return nullptr;
  }
  CloseHandle(process.hThread);
  child->process_ = process.hProcess;
  child->pid_ = static_cast<pid_t>(process.dwProcessId);
  return child;
}

ChildProcess::~ChildProcess() {
  if (!reaped_ && process_ != nullptr) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
  }
  CloseIfOpen(stdout_pipe_);
  CloseIfOpen(stderr_pipe_);
  CloseIfOpen(process_);
}

bool ChildProcess::Signal(int signal_number) {
  if (reaped_) return false;
  if (signal_number != SIGINT && signal_number != SIGBREAK) return false;
  // Console events go to every process of a console: attach to the child's
  // for the time it takes to send one.
  static const bool ignoring = SetConsoleCtrlHandler(IgnoreStopEvents, TRUE) != 0;
  FreeConsole();
  if (!ignoring || !AttachConsole(static_cast<DWORD>(pid_))) return false;
  const bool sent =
      GenerateConsoleCtrlEvent(signal_number == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0) != 0;
  FreeConsole();
  return sent;
}

void ChildProcess::Reap() {
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  reaped_ = true;
  exit_status_ = static_cast<int>(code);
}

bool ChildProcess::ReadSome(std::chrono::steady_clock::time_point deadline) {
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline || (!stdout_open() && !stderr_open() && reaped_)) return false;
  bool read = false;
  for (void** pipe : {read_stdout_ ? &stdout_pipe_ : nullptr, &stderr_pipe_}) {
    if (pipe == nullptr || *pipe == nullptr) continue;
    DWORD available = 0;
    // Fails once the child's end is closed and every byte read.
    if (!PeekNamedPipe(*pipe, nullptr, 0, nullptr, &available, nullptr)) {
      CloseIfOpen(*pipe);
      continue;
    }
    if (available == 0) continue;
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(*pipe, buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr)) {
      CloseIfOpen(*pipe);
      continue;
    }
    (pipe == &stdout_pipe_ ? stdout_text_ : stderr_text_).append(buffer, n);
    read = true;
  }
  if (!read) {
    const auto wait = std::min<std::chrono::steady_clock::duration>(deadline - now, kStep);
    const DWORD milliseconds =
        static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1);
    if (reaped_) {
      Sleep(milliseconds);
    } else if (WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0) {
      Reap();
    }
  }
  return stdout_open() || stderr_open();
}

bool ChildProcess::stdout_open() const { return stdout_pipe_ != nullptr && read_stdout_; }

bool ChildProcess::stderr_open() const { return stderr_pipe_ != nullptr; }

int ExitCode(const std::optional<int>& status) { return status ? *status : -1; }

int CurrentProcessId() { return _getpid(); }

}  // namespace portwick::testing
