#include "capture/windows/pcapng_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "base/windows/win32_text.h"
#include "windows_test_dir.h"

namespace portwick {
namespace {

using std::chrono_literals::operator""s;

TEST(PcapngFileTest, CutsBackToTheLastWholeBlock) {
  testing::WindowsTestDir dir(L"pcapng");
  const std::filesystem::path path = dir.path / L"capture.pcapng";
  PcapngFile file;
  ASSERT_EQ(file.Open(Utf8FromUtf16(path.wstring())), 0);
  ASSERT_EQ(file.WriteAll("block\n\r\n", 8), 0);
  ASSERT_EQ(file.WriteAll("torn", 4), 0);
  file.TruncateTo(8);
  ASSERT_EQ(file.WriteAll("next", 4), 0);  // goes on where the cut left off
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), std::string("block\n\r\nnext"));
}

// A write into a named pipe whose reader reads nothing ends at Abandon; a
// pipe that nobody serves fails the open at once.
TEST(PcapngFileTest, AbandonEndsAWriteIntoAFullPipe) {
  const std::wstring pipe_name =
      L"\\\\.\\pipe\\portwick-test-" + std::to_wstring(GetCurrentProcessId());
  PcapngFile nobody;
  EXPECT_EQ(nobody.Open(Utf8FromUtf16(pipe_name)), ENOENT);

  const HANDLE server = CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
  PcapngFile file;
  ASSERT_EQ(file.Open(Utf8FromUtf16(pipe_name)), 0);
  const std::string data(1 << 20, 'x');
  auto writing =
      std::async(std::launch::async, [&] { return file.WriteAll(data.data(), data.size()); });
  // Waits until the pipe holds bytes: the write has begun and is stuck.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  DWORD available = 0;
  while (available == 0 && std::chrono::steady_clock::now() < deadline) {
    PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr);
    if (available == 0) Sleep(1);
  }
  ASSERT_NE(available, 0u);
  file.Abandon();
  const bool ended = writing.wait_for(5s) == std::future_status::ready;
  if (!ended) DisconnectNamedPipe(server);  // lets the writer's thread go
  CloseHandle(server);
  ASSERT_TRUE(ended);
  EXPECT_EQ(writing.get(), ECANCELED);
}

}  // namespace
}  // namespace portwick
