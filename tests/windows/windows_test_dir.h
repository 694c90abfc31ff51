#ifndef PORTWICK_TESTS_WINDOWS_WINDOWS_TEST_DIR_H_
#define PORTWICK_TESTS_WINDOWS_WINDOWS_TEST_DIR_H_

#include <windows.h>

#include <filesystem>
#include <string>

namespace portwick::testing {

// A fresh folder under the temporary folder, named with `tag` (which may
// hold characters cmd.exe treats specially), removed at the end.
class WindowsTestDir {
 public:
  explicit WindowsTestDir(const std::wstring& tag) {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    path_ = std::filesystem::path(base) /
            (L"portwick " + tag + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount64()));
    std::filesystem::create_directories(path_);
  }
  ~WindowsTestDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_WINDOWS_WINDOWS_TEST_DIR_H_
