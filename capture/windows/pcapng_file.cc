#include "capture/windows/pcapng_file.h"

#include <windows.h>

#include <cerrno>
#include <initializer_list>

#include "base/windows/win32_text.h"

namespace portwick {

PcapngFile::~PcapngFile() {
  for (void* handle : {file_, abandon_, done_}) {
    if (handle != nullptr) CloseHandle(handle);
  }
}

int PcapngFile::Open(const std::string& path) {
  // The events first: an open file without them could not be abandoned.
  abandon_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (abandon_ == nullptr || done_ == nullptr) return ErrnoFromWin32(GetLastError());
  if (path.empty()) return ENOENT;
  const HANDLE file =
      CreateFileW(Utf16FromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ErrnoFromWin32(GetLastError());
  file_ = file;
  offset_ = 0;
  return 0;
}

int PcapngFile::WriteAll(const char* data, size_t size) {
  if (file_ == nullptr) return EBADF;
  while (size > 0) {
    if (WaitForSingleObject(abandon_, 0) == WAIT_OBJECT_0) return ECANCELED;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset_ & 0xFFFFFFFF);
    overlapped.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
    overlapped.hEvent = done_;
    ResetEvent(done_);
    if (!WriteFile(file_, data, chunk, nullptr, &overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return ErrnoFromWin32(error);
      HANDLE waits[2] = {done_, abandon_};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(file_, &overlapped);
      }
    }
    // Waits for the write to finish or its cancellation to take effect: the
    // buffer must not be given back while the system may still read it.
    DWORD written = 0;
    if (!GetOverlappedResult(file_, &overlapped, &written, TRUE)) {
      return ErrnoFromWin32(GetLastError());  // ERROR_OPERATION_ABORTED: ECANCELED
    }
    if (written == 0) return EIO;  // takes nothing; don't loop for ever
    data += written;
    size -= written;
    offset_ += written;
  }
  return 0;
}

void PcapngFile::TruncateTo(uint64_t length) {
  if (file_ == nullptr) return;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  if (SetFileInformationByHandle(file_, FileEndOfFileInfo, &end, sizeof end)) offset_ = length;
}

void PcapngFile::Abandon() {
  if (abandon_ != nullptr) SetEvent(abandon_);
}

}  // namespace portwick
