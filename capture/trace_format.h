#ifndef PORTWICK_CAPTURE_TRACE_FORMAT_H_
#define PORTWICK_CAPTURE_TRACE_FORMAT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace portwick {

// The pieces of the console trace. Pure functions; any thread.

// "HH:MM:SS.uuuuuu" in local time.
void AppendClockTime(std::string& out, std::chrono::system_clock::time_point time);

// What starts every line of a chunk's bytes in the console trace, and never
// an event line (those start with the time): bytes a peer sends can't pass
// for an event.
inline constexpr std::string_view kTraceDataMark = "| ";

// The bytes as text that decodes back to exactly them: printable ASCII and
// valid UTF-8 as they are, a line feed as a line feed, a backslash as "\\",
// CR, tab and zero as "\r", "\t" and "\0", every other byte as "\xNN" (two
// lower-case hex digits); then one line feed if the last character written
// was not one. Characters that a terminal may act on or that hide or reorder
// what is shown are not valid here, so their bytes are escaped too: the C1
// controls U+0080..U+009F, the invisible format characters (Unicode
// category Cf: U+00AD, U+200B..U+200F, the bidi controls U+202A..U+202E and
// U+2066..U+2069, U+2060..U+2064, U+FEFF, U+061C, ...) and the line and
// paragraph separators U+2028 and U+2029. Each line starts with
// `line_prefix`. Nothing is written for no bytes.
void AppendEscapedText(std::string& out, const char* data, size_t size,
                       std::string_view line_prefix = {});

// Hex dump lines, 16 bytes each: `line_prefix`, the offset of the line's
// first byte (at least 4 hex digits), the bytes as two-digit hex separated
// by spaces (an extra space after the eighth), and the printable ASCII
// column between '|' marks, '.' standing for the rest. `offset` is added to
// the offsets shown.
void AppendHexDump(std::string& out, const char* data, size_t size, uint64_t offset = 0,
                   std::string_view line_prefix = {});

// "1 byte", "K bytes".
std::string ByteCount(uint64_t count);

// Milliseconds with one decimal: "0.3 ms", "76.5 ms".
std::string Milliseconds(std::chrono::nanoseconds duration);

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_TRACE_FORMAT_H_
