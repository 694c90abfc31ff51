#include "trafficlog/log_file_access.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "base/windows/win32_text.h"
#include "windows_test_dir.h"

namespace portwick {
namespace {

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Appends stay byte-exact across two opens, the file can be read and renamed
// (rotated) while it is open, and the name's identity follows the rename.
TEST(WindowsLogFileAccessTest, AppendsExactlyWhileOthersReadAndRotate) {
  testing::WindowsTestDir dir(L"log");
  LogFileAccess* access = LogFileAccess::Default();
  const std::filesystem::path path = dir.path / L"traffic \u00e9\u4e2d.log";
  const std::string name = Utf8FromUtf16(path.wstring());

  const int first = access->OpenForAppend(name);
  ASSERT_GE(first, 0) << errno;
  EXPECT_EQ(access->Write(first, "a\nb\r\n", 5), 5);
  const int second = access->OpenForAppend(name);  // keeps what is there
  ASSERT_GE(second, 0) << errno;
  const iovec pieces[] = {{const_cast<char*>("c"), 1}, {nullptr, 0}, {const_cast<char*>("\n"), 1}};
  EXPECT_EQ(access->WriteVector(second, pieces, 3), 2);
  access->Close(second);
  EXPECT_EQ(ReadWhole(path), "a\nb\r\nc\n");  // read while `first` is open

  FileIdentity named;
  FileIdentity open;
  ASSERT_TRUE(access->IdentifyName(name, &named));
  ASSERT_TRUE(access->IdentifyOpen(first, &open));
  EXPECT_EQ(named, open);

  const std::filesystem::path rotated = dir.path / L"traffic.log.1";
  ASSERT_TRUE(MoveFileExW(path.c_str(), rotated.c_str(), 0)) << GetLastError();
  EXPECT_FALSE(access->IdentifyName(name, &named));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(access->Write(first, "d\n", 2), 2);
  ASSERT_TRUE(access->IdentifyName(Utf8FromUtf16(rotated.wstring()), &named));
  EXPECT_EQ(named, open);
  access->Close(first);
  EXPECT_EQ(ReadWhole(rotated), "a\nb\r\nc\nd\n");

  EXPECT_EQ(access->OpenForAppend(Utf8FromUtf16((dir.path / L"none" / L"x.log").wstring())), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace portwick
