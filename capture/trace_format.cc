#include "capture/trace_format.h"

#include <time.h>

#include <cstdio>

namespace portwick {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char byte) {
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence of two or more bytes at `at`, or 0.
// Overlong forms, surrogates, code points above U+10FFFF and the C1
// controls count as invalid.
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
  return length;
}

}  // namespace

void AppendClockTime(std::string& out, std::chrono::system_clock::time_point time) {
  const auto since_epoch = time.time_since_epoch();
  auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(since_epoch - seconds).count();
  const time_t whole = static_cast<time_t>(seconds.count());
  tm local{};
  localtime_r(&whole, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long long>(micros));
  out += text;
}

void AppendEscapedText(std::string& out, const char* data, size_t size) {
  if (size == 0) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  while (i < size) {
    const unsigned char byte = bytes[i];
    if (byte >= 0x20 && byte < 0x7F) {
      if (byte == '\\') out += '\\';
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    switch (byte) {
      case '\n':
        out += '\n';
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

void AppendHexDump(std::string& out, const char* data, size_t size, uint64_t offset) {
  constexpr size_t kPerLine = 16;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  for (size_t line = 0; line < size; line += kPerLine) {
    char position[24];
    std::snprintf(position, sizeof position, "%04llx ",
                  static_cast<unsigned long long>(offset + line));
    out += position;
    std::string printable;
    for (size_t i = 0; i < kPerLine; ++i) {
      if (i == 8) out += ' ';
      if (line + i < size) {
        const unsigned char byte = bytes[line + i];
        out += ' ';
        AppendHexByte(out, byte);
        printable += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |";
    out += printable;
    out += "|\n";
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
