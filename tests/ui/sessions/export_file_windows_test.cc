// The Windows export file: binary both ways (no text mode turns "\n" into
// "\r\n" or stops at Ctrl+Z), reads that leave later writes in place, and a
// transcript's temporary file that is gone once the transcript is made.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "base/write_fully.h"
#include "capture_events.h"
#include "ui/sessions/export_file.h"
#include "ui/sessions/session_export.h"

namespace portwick {
namespace {

int TemporaryFilesOfOurs() {
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    if (entry.path().filename().wstring().starts_with(L"portwick-") &&
        entry.path().extension() == L".tmp") {
      ++count;
    }
  }
  return count;
}

TEST(WindowsExportFileTest, InMemoryFileReadsBackExactlyAndKeepsAppending) {
  const std::string first("line\n\r\n\x1a\0tail", 12);
  ExportFile file;
  ASSERT_EQ(file.CreateInMemory(), 0);
  ASSERT_EQ(WriteFully(file.fd(), first.data(), first.size()), 0);
  std::string contents;
  ASSERT_TRUE(file.ReadAll(&contents));
  EXPECT_EQ(contents, first);
  ASSERT_EQ(WriteFully(file.fd(), "more", 4), 0);  // goes after, not over
  ASSERT_TRUE(file.ReadAll(&contents));
  EXPECT_EQ(contents, first + "more");
}

TEST(WindowsExportFileTest, TranscriptLeavesNoTemporaryFileBehind) {
  CaptureStore store;
  testing::EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, Direction::kClientToServer, "GET /\r");
  const int before = TemporaryFilesOfOurs();
  const std::string text = TranscriptText(store, 1);
  EXPECT_NE(text.find("| GET /\\r\n"), std::string::npos) << text;
  EXPECT_EQ(TemporaryFilesOfOurs(), before);
}

}  // namespace
}  // namespace portwick
