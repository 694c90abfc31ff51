// The words of the status line and the session list: sizes, durations, and
// one text for each failure the window reports, with the system's reason.
#include "ui/sessions/session_texts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "base/status.h"

namespace portwick {
namespace {

TEST(SessionTextsTest, SizesAndDurations) {
  const std::pair<uint64_t, const char*> sizes[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.00 KiB"},
      {10239, "10.0 KiB"},
      {1536 * 1024, "1.50 MiB"},
      {uint64_t{256} << 20, "256 MiB"},
      {uint64_t{5} << 30, "5.00 GiB"},
  };
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(SizeText(bytes), text) << bytes;
  using std::chrono::milliseconds;
  const std::pair<std::chrono::nanoseconds, const char*> durations[] = {
      {std::chrono::microseconds(300), "0.3 ms"},
      {milliseconds(76), "76 ms"},
      {milliseconds(4560), "4.56 s"},
      {milliseconds(123'000), "2 min 03 s"},
      {std::chrono::hours(1) + std::chrono::minutes(2), "1 h 02 min"},
  };
  for (const auto& [duration, text] : durations) EXPECT_EQ(DurationText(duration), text) << text;
}

TEST(SessionTextsTest, EachFailureWithTheSystemsReason) {
  CapturedSession refused;
  refused.id = 3;
  refused.state = CapturedState::kFailed;
  refused.destination_host = "localhost";
  refused.destination_port = 2007;
  refused.failure = Status::Error("connect", ECONNREFUSED);
  CapturedSession no_host = refused;
  no_host.destination_host.clear();
  CapturedSession unresolved = refused;
  unresolved.id = 4;
  unresolved.destination_host = "no.such.host";
  unresolved.failure =
      Status::Error(Status::Kind::kResolve, "resolve", 0, "Name or service not known");
  // The system's own words for each reason (they differ between systems).
  const std::string refused_text =
      "Session 3: cannot connect to localhost:2007: " + ErrorText(ECONNREFUSED);
  const std::pair<std::string, std::string> cases[] = {
      {ListenErrorText(1999, Status::Error("bind", EADDRINUSE)),
       "Cannot open port 1999: " + ErrorText(EADDRINUSE)},
      {ConnectErrorText(refused), refused_text},
      {ConnectErrorText(no_host), refused_text},
      {ConnectErrorText(unresolved),
       "Session 4: cannot resolve no.such.host:2007: Name or service not known"},
      {LogFileErrorText("/ro/t.log", Status::Error(Status::Kind::kOpen, "open", EACCES)),
       "Cannot open the traffic log /ro/t.log: " + ErrorText(EACCES)},
      {LogFileErrorText("/full/t.log", Status::Error("write", ENOSPC)),
       "Cannot write the traffic log /full/t.log: " + ErrorText(ENOSPC)},
      {LogFileErrorText("", Status::Error(Status::Kind::kOpen, "open", ENOENT)),
       "Cannot open the traffic log (no file name): " + ErrorText(ENOENT)},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

TEST(SessionTextsTest, StatusLineStoppedListeningCountsAndTheLastError) {
  StatusFigures figures;
  EXPECT_EQ(StatusLineText(figures), "Stopped");
  figures.listening = true;
  figures.port = 1999;
  figures.destination = "localhost:2007";
  figures.capturing = true;
  figures.counts.sessions_open = 2;
  figures.counts.sessions_total = 17;
  figures.counts.sessions_dropped = 4;
  figures.counts.bytes_up = 1536;
  figures.counts.bytes_down = 3 << 20;
  figures.counts.capture_used = 5 << 20;
  figures.counts.capture_limit = uint64_t{256} << 20;
  figures.counts.bytes_dropped = 0;
  figures.last_error = "Session 3: cannot connect to localhost:2007: Connection refused";
  EXPECT_EQ(StatusLineText(figures),
            "Listening on port 1999 for localhost:2007 | 2 open / 17 sessions (4 no longer "
            "listed) | 1.50 KiB up, 3.00 MiB down | capture 5.00 MiB of 256 MiB, 0 B dropped | "
            "Session 3: cannot connect to localhost:2007: Connection refused");
  figures.counts.capture_limit = 0;
  figures.listening = false;
  figures.last_error.clear();
  EXPECT_EQ(StatusLineText(figures),
            "Stopped | 2 open / 17 sessions (4 no longer listed) | 1.50 KiB up, 3.00 MiB down | "
            "capture off");
}

}  // namespace
}  // namespace portwick
