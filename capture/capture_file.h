#ifndef PORTWICK_CAPTURE_CAPTURE_FILE_H_
#define PORTWICK_CAPTURE_CAPTURE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace portwick {

// The file a capture writer fills. Opened without blocking, so that a FIFO
// without a reader fails at once instead of holding the open for good, and
// kept so: a write waits for room only until Abandon is called. Owns what it
// opened and closes it on destruction. Implemented per platform
// (capture/posix/capture_file.cc).
//
// Thread safety: Abandon may be called from any thread, also while a write
// waits; every other method only by the owning thread.
class CaptureFile {
 public:
  CaptureFile() = default;
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;
  ~CaptureFile();

  // Creates or empties `path`, for its owner only (it holds other people's
  // traffic). 0, or the negated errno of the step that failed.
  int Open(const std::string& path);
  // Writes all `size` bytes, waiting for room as long as it takes unless
  // Abandon comes first. 0, or the negated errno (-ECANCELED when
  // abandoned).
  int WriteAll(const char* data, size_t size);
  // Cuts the file back to `length` bytes, so no partial block is left after
  // a failed write; a FIFO or pipe can't be cut back, and that is fine.
  void TruncateTo(uint64_t length);
  // Makes a waiting write, and every later one, give up. Nothing before Open
  // succeeded.
  void Abandon();

 private:
  int fd_ = -1;
  // Readable once Abandon was called; wakes a write waiting for room.
  int abandon_fd_ = -1;
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_CAPTURE_FILE_H_
