// The Sessions window's rules apart from drawing: what a Find text stands
// for, where a search starts and what the message line says after it, what
// Export offers and says, which session is selected on opening, and when
// the conversation follows its end.
#include <gtest/gtest.h>

#include <string>

#include "capture_events.h"
#include "ui/sessions/export_command.h"
#include "ui/sessions/find_input.h"
#include "ui/sessions/view_rules.h"

namespace portwick {
namespace {

using testing::EventFeeder;
using Place = ConversationLines::Place;

TEST(FindInputTest, TheNeedleOrWhyThereIsNone) {
  struct Case {
    const char* typed;
    bool hex;
    int lines;
    const char* error;
  };
  for (const Case& c :
       {Case{"0d 0", true, 5, "is not hex bytes"}, Case{"", false, 5, "nothing to find"},
        Case{"GET", false, 0, "no conversation shown"}, Case{"0d0a", true, 5, ""}}) {
    const FindNeedle needle = ParseFindInput(c.typed, c.hex, c.lines);
    EXPECT_NE(needle.error.find(c.error), std::string::npos) << c.typed << ": " << needle.error;
    EXPECT_EQ(needle.error.empty(), std::string(c.error).empty()) << c.typed;
  }
}

TEST(FindStartTest, AfterTheMatchShownElseFromTheTopLinesOwnBytes) {
  const ConversationLines::Match shown{{3, 9}, 4};
  ConversationLines::LineBytes top;
  top.chunk_index = 2;
  top.begin = 128;
  EXPECT_EQ(FindStart(shown, top, true), (Place{3, 9}));
  EXPECT_EQ(FindStart(shown, top, false), (Place{3, 9}));
  EXPECT_EQ(FindStart(std::nullopt, top, true), (Place{2, 127})) << "a match at 128 counts";
  EXPECT_EQ(FindStart(std::nullopt, top, false), std::nullopt) << "backward: from the end";
  EXPECT_EQ(FindStart(std::nullopt, std::nullopt, true), std::nullopt);
}

TEST(FindWrappingTest, WrapsOnceAndSaysWhereItFound) {
  CaptureStore store;
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, Direction::kClientToServer, "GET /a HTTP/1.1\r\n");
  feeder.Chunk(1, Direction::kServerToClient, "HTTP/1.1 200 OK\r\n");
  ConversationLines lines;
  lines.SetSession(&store, 1);
  lines.Load(std::chrono::milliseconds(1000));

  FindResult found = FindWrapping(lines, "HTTP", Place{1, 0}, true);
  ASSERT_TRUE(found.match);
  EXPECT_EQ(found.match->at, (Place{0, 7}));
  EXPECT_TRUE(found.wrapped);
  const std::string text = FoundText(found, lines.BytesOf(1).chunk, true, "HTTP");
  EXPECT_TRUE(text.starts_with("Found at byte 8 of chunk 1 (client \u2192 server, 12:00:00."))
      << text;
  EXPECT_TRUE(text.ends_with("), from the start")) << text;
  found = FindWrapping(lines, "HTTP", Place{0, 7}, false);
  EXPECT_EQ(found.match->at, (Place{1, 0}));
  EXPECT_EQ(FoundText(found, {}, false, "HTTP"), "Found at byte 1 of chunk 2, from the end");
  found = FindWrapping(lines, "absent", Place{0, 7}, true);
  EXPECT_FALSE(found.match);
  EXPECT_FALSE(found.wrapped);
  EXPECT_EQ(FoundText(found, {}, true, "absent"), "Find: \"absent\" not found");
}

TEST(ExportCommandTest, OffersANameForEachKindAndRefusesWithoutASession) {
  struct Case {
    SessionExportKind kind;
    const char* name;
    const char* suffix;
  };
  for (const Case& c :
       {Case{SessionExportKind::kClientBytes, "session-2-client-to-server.bin", "bin"},
        Case{SessionExportKind::kServerBytes, "session-2-server-to-client.bin", "bin"},
        Case{SessionExportKind::kTranscript, "session-2.txt", "txt"},
        Case{SessionExportKind::kPcapngSession, "session-2.pcapng", "pcapng"},
        Case{SessionExportKind::kPcapngAll, "sessions.pcapng", "pcapng"}}) {
    const ExportFileOffer offer = ExportFileOfferFor(c.kind, 2);
    EXPECT_EQ(offer.initial_name, c.name);
    EXPECT_EQ(offer.default_suffix, c.suffix);
    EXPECT_EQ(offer.filters.back(), "All Files (*)");
  }
  CaptureStore store;
  EXPECT_EQ(ExportRefusal(nullptr, SessionExportKind::kPcapngAll, 0),
            "Export: nothing captured yet");
  EXPECT_EQ(ExportRefusal(&store, SessionExportKind::kTranscript, 0),
            "Export: select a session first");
  EXPECT_EQ(ExportRefusal(&store, SessionExportKind::kPcapngAll, 0), std::nullopt);
}

TEST(ViewRulesTest, TheNewestSessionOnOpeningAndFollowOnlyAtTheEnd) {
  CaptureStore store;
  EventFeeder feeder(&store);
  SessionTable table;
  table.Update(&store);
  EXPECT_EQ(SessionToSelectOnShow(false, table), std::nullopt) << "nothing listed";
  feeder.Open(1);
  feeder.Open(2);
  table.Update(&store);
  EXPECT_EQ(SessionToSelectOnShow(false, table), 2u);
  EXPECT_EQ(SessionToSelectOnShow(true, table), std::nullopt) << "the user's choice stays";

  FollowRule follow;
  EXPECT_TRUE(follow.ScrollToEnd(true)) << "a new conversation starts at its end";
  follow.BeforeInsert(false);
  EXPECT_FALSE(follow.ScrollToEnd(true)) << "the user scrolled up";
  follow.Restart();
  EXPECT_TRUE(follow.ScrollToEnd(true));
  EXPECT_FALSE(follow.ScrollToEnd(false)) << "Follow off";
  follow.set_holding(true);
  EXPECT_FALSE(follow.ScrollToEnd(true)) << "a new layout holds the place";

  EXPECT_EQ(CopiedText(0, false), "Copy: select lines of the conversation first");
  EXPECT_EQ(CopiedText(1, true), "Copied 1 line as hex");
  EXPECT_EQ(CopiedText(3, false), "Copied 3 lines as text");
}

}  // namespace
}  // namespace portwick
