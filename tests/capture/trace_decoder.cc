#include "trace_decoder.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cctype>
#include <charconv>

namespace portwick::testing {

namespace {

class Decoder {
 public:
  Decoder(std::string_view trace, TraceBody body) : text_(trace), body_(body) {}

  DecodedTrace Run() {
    while (result_.ok && at_ < text_.size()) Header();
    return std::move(result_);
  }

 private:
  void Fail(const std::string& what) {
    if (!result_.ok) return;
    result_.ok = false;
    result_.error = what + " at offset " + std::to_string(at_);
  }

  // The rest of the line at at_, without its LF; moves past the LF.
  std::string_view Line() {
    const size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) {
      Fail("line without LF");
      at_ = text_.size();
      return {};
    }
    const std::string_view line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return line;
  }

  static bool IsClock(std::string_view s) {
    // HH:MM:SS.uuuuuu
    if (s.size() != 15) return false;
    for (size_t i = 0; i < s.size(); ++i) {
      const bool digit = std::isdigit(static_cast<unsigned char>(s[i])) != 0;
      if (i == 2 || i == 5 ? s[i] != ':' : i == 8 ? s[i] != '.' : !digit) return false;
    }
    return true;
  }

  void Header() {
    const std::string_view line = Line();
    if (!result_.ok) return;
    if (line.size() < 18 || !IsClock(line.substr(0, 15)) || line.substr(15, 2) != " #") {
      Fail("not a header line: " + std::string(line));
      return;
    }
    const size_t space = line.find(' ', 17);
    if (space == std::string_view::npos) {
      Fail("header without event");
      return;
    }
    const std::string label(line.substr(17, space - 17));
    const std::string event(line.substr(space + 1));
    result_.events.emplace_back(label, event);
    if (event.size() < 3 || (event[0] != '>' && event[0] != '<') || event[1] != ' ') return;
    size_t count = 0;
    const char* digits = event.data() + 2;
    const auto [end, error] = std::from_chars(digits, event.data() + event.size(), count);
    const std::string_view unit(end, static_cast<size_t>(event.data() + event.size() - end));
    if (error != std::errc() || unit != (count == 1 ? " byte" : " bytes")) {
      Fail("bad chunk header: " + event);
      return;
    }
    std::string& stream = result_.streams[{label, event[0]}];
    if (body_ == TraceBody::kText) {
      Text(count, stream);
    } else {
      Hex(count, stream);
    }
  }

  // Moves past the data mark that starts every line of a chunk's bytes.
  bool Mark() {
    if (text_.substr(at_, 2) != "| ") {
      Fail("data line without its mark");
      return false;
    }
    at_ += 2;
    return true;
  }

  void Text(size_t count, std::string& out) {
    size_t decoded = 0;
    char last = '\0';
    if (count > 0 && !Mark()) return;
    while (decoded < count) {
      if (at_ >= text_.size()) return Fail("text ended inside a chunk");
      const char c = text_[at_++];
      last = c;
      if (c != '\\') {
        out += c;
        ++decoded;
        if (c == '\n' && decoded < count && !Mark()) return;
        continue;
      }
      if (at_ >= text_.size()) return Fail("escape at the end");
      const char kind = text_[at_++];
      last = kind;
      switch (kind) {
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case '0':
          out += '\0';
          break;
        case '\\':
          out += '\\';
          break;
        case 'x': {
          if (at_ + 2 > text_.size()) return Fail("short \\x escape");
          unsigned value = 0;
          const auto [end, error] =
              std::from_chars(text_.data() + at_, text_.data() + at_ + 2, value, 16);
          if (error != std::errc() || end != text_.data() + at_ + 2) return Fail("bad \\x");
          out += static_cast<char>(value);
          last = text_[at_ + 1];
          at_ += 2;
          break;
        }
        default:
          return Fail(std::string("unknown escape \\") + kind);
      }
      ++decoded;
    }
    if (last != '\n') {
      if (at_ >= text_.size() || text_[at_] != '\n') return Fail("no LF after a chunk");
      ++at_;
    }
  }

  void Hex(size_t count, std::string& out) {
    size_t decoded = 0;
    while (decoded < count) {
      if (!Mark()) return;
      const std::string_view line = Line();
      if (!result_.ok) return;
      // "| OFFSET  hh hh ...  |printable|"
      const size_t bar = line.find("  |");
      if (bar == std::string_view::npos || line.back() != '|') return Fail("bad hex line");
      size_t offset = 0;
      const size_t space = line.find(' ');
      std::from_chars(line.data(), line.data() + space, offset, 16);
      if (offset != decoded) return Fail("wrong offset");
      std::string bytes;
      size_t i = space;
      while (i < bar) {
        while (i < bar && line[i] == ' ') ++i;
        if (i >= bar) break;
        unsigned value = 0;
        const auto [end, error] = std::from_chars(line.data() + i, line.data() + i + 2, value, 16);
        if (error != std::errc() || end != line.data() + i + 2) return Fail("bad hex byte");
        bytes += static_cast<char>(value);
        i += 2;
      }
      const std::string_view printable = line.substr(bar + 3, line.size() - bar - 4);
      if (printable.size() != bytes.size() || bytes.size() > 16) return Fail("bad printable");
      for (size_t k = 0; k < bytes.size(); ++k) {
        const auto byte = static_cast<unsigned char>(bytes[k]);
        const char shown = byte >= 0x20 && byte < 0x7F ? bytes[k] : '.';
        if (printable[k] != shown) return Fail("printable column differs");
      }
      out += bytes;
      decoded += bytes.size();
      if (bytes.size() < 16 && decoded < count) return Fail("short line inside a chunk");
    }
    if (decoded != count) Fail("more bytes than the header said");
  }

  const std::string_view text_;
  const TraceBody body_;
  size_t at_ = 0;
  DecodedTrace result_;
};

}  // namespace

DecodedTrace DecodeTrace(std::string_view trace, TraceBody body) {
  return Decoder(trace, body).Run();
}

#if defined(_WIN32)

namespace {

// A binary temporary file, deleted when its descriptor closes.
int OpenTemporaryFile() {
  char name[L_tmpnam_s];
  if (tmpnam_s(name, sizeof name) != 0) return -1;
  return ::_open(name, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

}  // namespace

MemoryFile::MemoryFile() : fd_(OpenTemporaryFile()) {}

MemoryFile::~MemoryFile() { ::_close(fd_); }

std::string MemoryFile::Contents() const {
  std::string text(static_cast<size_t>(::_lseeki64(fd_, 0, SEEK_END)), '\0');
  ::_lseeki64(fd_, 0, SEEK_SET);
  const int read = ::_read(fd_, text.data(), static_cast<unsigned>(text.size()));
  return read == static_cast<int>(text.size()) ? text : "";
}

#else

MemoryFile::MemoryFile() : fd_(memfd_create("trace", MFD_CLOEXEC)) {}

MemoryFile::~MemoryFile() { close(fd_); }

std::string MemoryFile::Contents() const {
  std::string text(static_cast<size_t>(lseek(fd_, 0, SEEK_END)), '\0');
  const ssize_t read = pread(fd_, text.data(), text.size(), 0);
  return read == static_cast<ssize_t>(text.size()) ? text : "";
}

#endif

}  // namespace portwick::testing
