#ifndef PORTWICK_UI_SESSIONS_FIND_INPUT_H_
#define PORTWICK_UI_SESSIONS_FIND_INPUT_H_

#include <optional>
#include <string>
#include <string_view>

#include "ui/sessions/conversation_lines.h"

namespace portwick {

// Find in the Sessions window, apart from drawing: what the typed text
// stands for, where a search starts, wrapping around, and what the message
// line then says. Pure functions over ConversationLines; the window's thread.

// The bytes a Find text stands for: UTF-8, with the console trace's escapes
// (\r \n \t \0 \\ \xNN) read back. In hex, pairs of hex digits with any
// spaces between ("de ad BE EF", "deadbeef"); nullopt when it is not hex.
std::string FindBytesFromText(std::string_view text);
std::optional<std::string> FindBytesFromHex(std::string_view text);

// The needle for `typed` (as hex bytes when `hex`), or, when there is none
// or no conversation to search (`lines` 0), the message line's text saying why.
struct FindNeedle {
  std::string bytes;
  std::string error;  // empty: search for `bytes`
};
FindNeedle ParseFindInput(std::string_view typed, bool hex, int lines);

// Where a search starts: after the match shown, or else from the first line
// in view (`top`, when one is, and only forward; its own bytes count).
std::optional<ConversationLines::Place> FindStart(
    const std::optional<ConversationLines::Match>& shown,
    const std::optional<ConversationLines::LineBytes>& top, bool forward);

// Searches from `from`, then once more from the start (or the end) when
// nothing is found after (or before) it.
struct FindResult {
  std::optional<ConversationLines::Match> match;
  bool wrapped = false;
};
FindResult FindWrapping(const ConversationLines& lines, std::string_view needle,
                        std::optional<ConversationLines::Place> from, bool forward);

// The message line after a search: "Found at byte 17 of chunk 1 (client ->
// server, 12:00:00.000000), from the start", named as the chunk's header
// shows it and counted from 1; or "Find: "x" not found".
std::string FoundText(const FindResult& result, const ChunkRef& chunk, bool forward,
                      std::string_view typed);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_FIND_INPUT_H_
