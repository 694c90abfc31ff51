#include "ui/sessions/find_input.h"

#include "capture/trace_format.h"

namespace portwick {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FindBytesFromText(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char next = text[i + 1];
    switch (next) {
      case 'r':
        bytes += '\r';
        ++i;
        continue;
      case 'n':
        bytes += '\n';
        ++i;
        continue;
      case 't':
        bytes += '\t';
        ++i;
        continue;
      case '0':
        bytes += '\0';
        ++i;
        continue;
      case '\\':
        bytes += '\\';
        ++i;
        continue;
      case 'x':
        if (i + 3 < text.size() && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
          bytes += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
          i += 3;
          continue;
        }
        break;
      default:
        break;
    }
    bytes += '\\';
  }
  return bytes;
}

std::optional<std::string> FindBytesFromHex(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ':' || c == ',') {
      if (high >= 0) return std::nullopt;  // half a byte
      continue;
    }
    const int value = HexValue(c);
    if (value < 0) return std::nullopt;
    if (high < 0) {
      high = value;
    } else {
      bytes += static_cast<char>(high * 16 + value);
      high = -1;
    }
  }
  if (high >= 0 || bytes.empty()) return std::nullopt;
  return bytes;
}

FindNeedle ParseFindInput(std::string_view typed, bool hex, int lines) {
  FindNeedle needle;
  if (hex) {
    std::optional<std::string> bytes = FindBytesFromHex(typed);
    if (!bytes) {
      needle.error = "Find: \"" + std::string(typed) +
                     "\" is not hex bytes (pairs of hex digits, such as 0d 0a)";
      return needle;
    }
    needle.bytes = std::move(*bytes);
  } else {
    needle.bytes = FindBytesFromText(typed);
  }
  if (needle.bytes.empty()) {
    needle.error = "Find: nothing to find";
  } else if (lines == 0) {
    needle.error = "Find: no conversation shown";
  }
  return needle;
}

std::optional<ConversationLines::Place> FindStart(
    const std::optional<ConversationLines::Match>& shown,
    const std::optional<ConversationLines::LineBytes>& top, bool forward) {
  if (shown) return shown->at;
  if (!top || !forward) return std::nullopt;
  ConversationLines::Place from{top->chunk_index, top->begin};
  if (from.offset > 0) --from.offset;  // the top line's own bytes count
  return from;
}

FindResult FindWrapping(const ConversationLines& lines, std::string_view needle,
                        std::optional<ConversationLines::Place> from, bool forward) {
  FindResult result;
  result.match = lines.Find(needle, from, forward);
  if (!result.match && from) {
    result.match = lines.Find(needle, std::nullopt, forward);
    result.wrapped = result.match.has_value();
  }
  return result;
}

std::string FoundText(const FindResult& result, const ChunkRef& chunk, bool forward,
                      std::string_view typed) {
  if (!result.match) return "Find: \"" + std::string(typed) + "\" not found";
  const ConversationLines::Place& at = result.match->at;
  std::string where = "Found at byte " + std::to_string(at.offset + 1) + " of chunk " +
                      std::to_string(at.chunk + 1);
  if (chunk) {
    where += chunk->direction() == Direction::kClientToServer ? " (client \u2192 server, "
                                                              : " (server \u2192 client, ";
    AppendClockTime(where, chunk->time().wall);
    where += ")";
  }
  if (result.wrapped) where += forward ? ", from the start" : ", from the end";
  return where;
}

}  // namespace portwick
