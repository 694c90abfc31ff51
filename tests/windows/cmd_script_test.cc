#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "base/windows/win32_text.h"
#include "run/command_script.h"
#include "windows_test_dir.h"

namespace portwick {
namespace {

namespace fs = std::filesystem;

fs::path TestProgramFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

// Runs `script` with cmd.exe in its own folder; its output, or "" when it
// did not end within 30 s.
std::string RunScript(const fs::path& script) {
  const fs::path output = script.parent_path() / L"output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = out;
  std::wstring command = L"cmd.exe /d /c \"" + script.wstring() + L"\"";
  PROCESS_INFORMATION process{};
  const bool ran = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  script.parent_path().c_str(), &startup, &process) &&
                   WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  CloseHandle(out);
  if (process.hProcess != nullptr) {
    TerminateProcess(process.hProcess, 1);  // if still there
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::ifstream in(output, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return ran ? text.str() : "";
}

// A saved script run by cmd.exe hands every value to the program as it was,
// however many characters cmd.exe treats specially it holds, and runs
// nothing else.
TEST(CmdScriptTest, CmdPassesEveryValueThroughAndRunsNothingElse) {
  testing::WindowsTestDir program_dir(L"a&b %OS% ^(x)!");
  testing::WindowsTestDir script_dir(L"script");
  const fs::path program = program_dir.path / PORTWICK_PRINT_ARGUMENTS;
  ASSERT_TRUE(
      CopyFileW((TestProgramFolder() / PORTWICK_PRINT_ARGUMENTS).c_str(), program.c_str(), FALSE));
  CommandScriptValues values;
  values.program_path = Utf8FromUtf16(program.wstring());
  values.local_port = 1999;
  values.bind_address = "::1";
  values.remote_host = "h&echo owned>owned1|x^y%OS%<a>b(c)";
  values.remote_port = 2007;
  values.write_to_file = true;
  values.log_file_name = "C:\\logs & echo owned>owned2.txt\\%PATH%\\";
  ASSERT_EQ(CmdScriptProblem(values), "");
  const fs::path script = script_dir.path / L"restart.cmd";
  ASSERT_EQ(WriteCommandScript(Utf8FromUtf16(script.wstring()), BuildCmdScript(values)),
            ScriptFileResult::kWritten);

  // cmd.exe echoes the command line first; the program's lines end it.
  const std::string output = RunScript(script);
  EXPECT_TRUE(
      output.ends_with("\r\n--source=1999\n--bind=::1\n"
                       "--destination=h&echo owned>owned1|x^y%OS%<a>b(c):2007\n"
                       "--filename=C:\\logs & echo owned>owned2.txt\\%PATH%\\\nstart\n"))
      << output;
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(script_dir.path)) ++files;
  EXPECT_EQ(files, 2);  // the script and its output: nothing else ran
}

}  // namespace
}  // namespace portwick
