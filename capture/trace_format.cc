#include "capture/trace_format.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "base/local_time.h"

namespace portwick {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char byte) {
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Characters shown as their bytes' escapes although valid: the invisible
// format characters (Unicode category Cf), which can hide text or reorder
// it on screen, and the line and paragraph separators, which some viewers
// break lines at.
bool IsHidden(uint32_t code_point) {
  static constexpr struct {
    uint32_t first, last;
  } kHidden[] = {
      {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
      {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
      {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x206F},   {0xFEFF, 0xFEFF},
      {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
      {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
  };
  for (const auto& range : kHidden) {
    if (code_point >= range.first && code_point <= range.last) return true;
  }
  return false;
}

// The length of the valid UTF-8 sequence of two or more bytes at `at`, or 0.
// Overlong forms, surrogates, code points above U+10FFFF, the C1 controls
// and the hidden characters count as invalid.
size_t Utf8SequenceLength(const unsigned char* at, size_t left) {
  const unsigned char lead = at[0];
  size_t length = 0;
  uint32_t code_point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07u;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(at[i])) return 0;
    code_point = (code_point << 6) | (at[i] & 0x3Fu);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < kSmallest[length] || code_point > 0x10FFFF) return 0;
  if (code_point >= 0xD800 && code_point <= 0xDFFF) return 0;
  if (code_point <= 0x9F) return 0;  // C1 controls
  if (IsHidden(code_point)) return 0;
  return length;
}

}  // namespace

void AppendClockTime(std::string& out, std::chrono::system_clock::time_point time) {
  const auto since_epoch = time.time_since_epoch();
  auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(since_epoch - seconds).count();
  const time_t whole = static_cast<time_t>(seconds.count());
  const tm local = LocalTime(whole);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long long>(micros));
  out += text;
}

void AppendEscapedText(std::string& out, const char* data, size_t size,
                       std::string_view line_prefix) {
  if (size == 0) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  out += line_prefix;
  size_t i = 0;
  while (i < size) {
    // A run of bytes that go out as they are, appended at once.
    size_t run = i;
    while (run < size && bytes[run] >= 0x20 && bytes[run] < 0x7F && bytes[run] != '\\') ++run;
    if (run > i) {
      out.append(data + i, run - i);
      i = run;
      continue;
    }
    const unsigned char byte = bytes[i];
    switch (byte) {
      case '\n':
        out += '\n';
        ++i;
        if (i < size) out += line_prefix;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '\0':
        out += "\\0";
        ++i;
        continue;
      default:
        break;
    }
    const size_t length = byte >= 0x80 ? Utf8SequenceLength(bytes + i, size - i) : 0;
    if (length > 0) {
      out.append(data + i, length);
      i += length;
    } else {
      out += "\\x";
      AppendHexByte(out, byte);
      ++i;
    }
  }
  if (out.back() != '\n') out += '\n';
}

void AppendHexDump(std::string& out, const char* data, size_t size, uint64_t offset,
                   std::string_view line_prefix) {
  constexpr size_t kPerLine = 16;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  // One line at a time in a buffer of its own: "OFFSET " (at least four hex
  // digits), 16 x " hh" with one more space after the eighth, "  |", the
  // printable column, "|\n".
  char line[24 + 3 * kPerLine + 1 + 3 + kPerLine + 2];
  for (size_t start = 0; start < size; start += kPerLine) {
    char* at = line;
    const uint64_t position = offset + start;
    int digits = 4;
    while (digits < 16 && (position >> (4 * digits)) != 0) ++digits;
    for (int d = digits - 1; d >= 0; --d) *at++ = kHexDigits[(position >> (4 * d)) & 0x0F];
    *at++ = ' ';
    const size_t count = std::min(kPerLine, size - start);
    for (size_t i = 0; i < kPerLine; ++i) {
      if (i == 8) *at++ = ' ';
      *at++ = ' ';
      if (i < count) {
        *at++ = kHexDigits[bytes[start + i] >> 4];
        *at++ = kHexDigits[bytes[start + i] & 0x0F];
      } else {
        *at++ = ' ';
        *at++ = ' ';
      }
    }
    *at++ = ' ';
    *at++ = ' ';
    *at++ = '|';
    for (size_t i = 0; i < count; ++i) {
      const unsigned char byte = bytes[start + i];
      *at++ = (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '.';
    }
    *at++ = '|';
    *at++ = '\n';
    out += line_prefix;
    out.append(line, static_cast<size_t>(at - line));
  }
}

std::string ByteCount(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string Milliseconds(std::chrono::nanoseconds duration) {
  // Tenths of a millisecond, rounded to the nearest.
  const long long tenths = (duration.count() + 50'000) / 100'000;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " ms";
}

}  // namespace portwick
