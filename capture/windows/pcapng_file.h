#ifndef PORTWICK_CAPTURE_WINDOWS_PCAPNG_FILE_H_
#define PORTWICK_CAPTURE_WINDOWS_PCAPNG_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace portwick {

// The file under a PcapngWriter on Windows: created or emptied at Open,
// written whole-block by whole-block, cut back to the last whole block after
// a failed write, and given up on at Abandon.
//
// Every write is overlapped and waited for together with the abandon event,
// so a write into a named pipe (\\.\pipe\...) whose reader stopped reading
// ends at Abandon (ECANCELED) instead of blocking the writer's thread for
// good; a disk file completes at once and never waits. Opening a named pipe
// that nobody serves fails at once (ENOENT, or ENXIO when every instance is
// busy), as a FIFO without a reader does on Linux.
//
// Others may read the file while it is written (FILE_SHARE_READ) and rename
// or delete it (FILE_SHARE_DELETE). Bytes go out as they are: no text mode.
//
// One thread at a time (the writer's), except Abandon: any thread, while
// the object lives.
class PcapngFile {
 public:
  PcapngFile() = default;
  PcapngFile(const PcapngFile&) = delete;
  PcapngFile& operator=(const PcapngFile&) = delete;
  ~PcapngFile();

  // 0, or the errno that stands for the failure.
  int Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Writes all `size` bytes: 0, or the errno (ECANCELED once abandoned).
  int WriteAll(const char* data, size_t size);
  // Cuts the file back to `length` bytes; a pipe can't be cut and is left.
  void TruncateTo(uint64_t length);
  void Abandon();

 private:
  void* file_ = nullptr;     // HANDLE
  void* abandon_ = nullptr;  // manual-reset event, set by Abandon
  void* done_ = nullptr;     // the pending write's completion event
  uint64_t offset_ = 0;      // where the next write goes in a disk file
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_WINDOWS_PCAPNG_FILE_H_
