#ifndef PORTWICK_TESTS_WINDOWS_WINDOWS_TEST_DIR_H_
#define PORTWICK_TESTS_WINDOWS_WINDOWS_TEST_DIR_H_

#include <windows.h>

#include <filesystem>
#include <string>

namespace portwick::testing {

// A fresh folder in the temporary folder, named with `tag` (which may hold
// characters cmd.exe treats specially), removed with its content at the end.
struct WindowsTestDir {
  explicit WindowsTestDir(const std::wstring& tag)
      : path(std::filesystem::temp_directory_path() /
             (L"portwick " + tag + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount64()))) {
    std::filesystem::create_directories(path);
  }
  ~WindowsTestDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  const std::filesystem::path path;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_WINDOWS_WINDOWS_TEST_DIR_H_
