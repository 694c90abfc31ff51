#ifndef PORTWICK_TESTS_CAPTURE_TRACE_DECODER_H_
#define PORTWICK_TESTS_CAPTURE_TRACE_DECODER_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace portwick::testing {

// Reads a console trace back: every header line's session label and event
// text, and per session and direction the bytes the chunks carried, decoded
// from escaped text or from hex dump lines, each data line after its "| ".
// Written from the trace's rules alone, independently of the writer's code.
struct DecodedTrace {
  bool ok = true;
  std::string error;  // the first thing that did not parse, when !ok
  // (label, event text) per header line, chunk headers included.
  std::vector<std::pair<std::string, std::string>> events;
  // (label, '>' or '<') -> the bytes of that direction, in order.
  std::map<std::pair<std::string, char>, std::string> streams;
};

enum class TraceBody { kText, kHex };

DecodedTrace DecodeTrace(std::string_view trace, TraceBody body);

// A file in memory (memfd) a trace is written to and read back from. Closed
// by the destructor; one thread.
class MemoryFile {
 public:
  MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile();

  int fd() const { return fd_; }
  // Everything written so far, from the start; "" when it can't be read.
  std::string Contents() const;

 private:
  const int fd_;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_CAPTURE_TRACE_DECODER_H_
