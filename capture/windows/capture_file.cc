// CaptureFile on Windows. The int members hold HANDLEs (kernel handles fit
// in 32 bits, and -1 is never an open one): fd_ the file, abandon_fd_ a
// manual-reset event that Abandon sets.
//
// Every write is overlapped and waited for together with the abandon event,
// so a write into a named pipe (\\.\pipe\...) whose reader stopped reading
// ends at Abandon (-ECANCELED) instead of blocking the writer's thread for
// good; a disk file completes at once. Opening a pipe nobody serves fails at
// once, as a FIFO without a reader does on Linux. Others may read the file
// while it is written and rename or delete it. Bytes go out as they are: no
// text mode.
#include "capture/capture_file.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

int FdOf(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

int LastError() { return -ErrnoFromWin32(GetLastError()); }

// Owns the completion event of one write.
class Event {
 public:
  Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Where the next write goes: the end of a disk file; pipes ignore it.
uint64_t EndOf(HANDLE file) {
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

}  // namespace

CaptureFile::~CaptureFile() {
  if (fd_ != -1) CloseHandle(HandleOf(fd_));
  if (abandon_fd_ != -1) CloseHandle(HandleOf(abandon_fd_));
}

int CaptureFile::Open(const std::string& path) {
  // The event first: an open file without it could not be abandoned.
  const HANDLE abandon = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (abandon == nullptr) return LastError();
  abandon_fd_ = FdOf(abandon);
  if (path.empty()) return -ENOENT;
  const HANDLE file =
      CreateFileW(Utf16FromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  fd_ = FdOf(file);
  return 0;
}

int CaptureFile::WriteAll(const char* data, size_t size) {
  if (fd_ == -1) return -EBADF;
  const HANDLE file = HandleOf(fd_);
  const HANDLE abandon = HandleOf(abandon_fd_);
  Event done;
  if (done.get() == nullptr) return LastError();
  uint64_t offset = EndOf(file);
  while (size > 0) {
    if (WaitForSingleObject(abandon, 0) == WAIT_OBJECT_0) return -ECANCELED;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    overlapped.hEvent = done.get();
    ResetEvent(done.get());
    if (!WriteFile(file, data, chunk, nullptr, &overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return -ErrnoFromWin32(error);
      HANDLE waits[2] = {done.get(), abandon};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(file, &overlapped);
      }
    }
    // Waits for the write to finish or its cancellation to take effect: the
    // buffer must not be given back while the system may still read it.
    DWORD written = 0;
    if (!GetOverlappedResult(file, &overlapped, &written, TRUE)) return LastError();
    if (written == 0) return -EIO;  // takes nothing; don't loop for ever
    data += written;
    size -= written;
    offset += written;
  }
  return 0;
}

void CaptureFile::TruncateTo(uint64_t length) {
  if (fd_ == -1) return;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  SetFileInformationByHandle(HandleOf(fd_), FileEndOfFileInfo, &end, sizeof end);
}

void CaptureFile::Abandon() {
  if (abandon_fd_ != -1) SetEvent(HandleOf(abandon_fd_));
}

}  // namespace portwick
