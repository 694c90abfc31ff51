// LogFileAccess on Windows. A descriptor here is the file's HANDLE held in an
// int: Windows gives kernel handles values that fit in 32 bits, so that
// 32-bit and 64-bit processes can share them, and never gives -1
// (INVALID_HANDLE_VALUE) for an open file. Failures set errno from the
// Win32 error, as the seam promises.
#include "trafficlog/log_file_access.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "base/no_destructor.h"
#include "base/windows/win32_text.h"

namespace portwick {

namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

int FdOf(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

void SetErrnoFromLastError() { errno = ErrnoFromWin32(GetLastError()); }

// Any reader may read the file while it grows, and anyone may rename or
// delete it (rotation) while it is open here.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IdentityOfHandle(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    SetErrnoFromLastError();
    return false;
  }
  identity->device = info.dwVolumeSerialNumber;
  identity->inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

class WindowsLogFileAccess final : public LogFileAccess {
 public:
  int OpenForAppend(const std::string& name) override {
    if (name.empty()) {
      errno = ENOENT;
      return -1;
    }
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every WriteFile lands at the
    // end of the file as it is then, whoever else writes to it. No C runtime
    // descriptor: its text mode would turn "\n" into "\r\n".
    const HANDLE handle =
        CreateFileW(Utf16FromUtf8(name).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShareAll,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      SetErrnoFromLastError();
      return -1;
    }
    return FdOf(handle);
  }

  ssize_t Write(int fd, const char* data, size_t length) override {
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(HandleOf(fd), data, chunk, &written, nullptr)) {
      SetErrnoFromLastError();
      return -1;
    }
    return static_cast<ssize_t>(written);
  }

  // No gathered write for ordinary files: the pieces one after another, up
  // to the first that comes up short, as a short writev would.
  ssize_t WriteVector(int fd, const WritePiece* pieces, int count) override {
    ssize_t total = 0;
    for (int i = 0; i < count; ++i) {
      const size_t length = pieces[i].length;
      if (length == 0) continue;
      const ssize_t n = Write(fd, pieces[i].data, length);
      if (n < 0) return total > 0 ? total : -1;
      total += n;
      if (static_cast<size_t>(n) < length) break;
    }
    return total;
  }

  void Close(int fd) override { CloseHandle(HandleOf(fd)); }
};

}  // namespace

// No pipes to log from here: every record is copied through Write.
bool LogFileAccess::HasPipes() const { return false; }

ssize_t LogFileAccess::ReadPipe(int /*pipe_fd*/, char* /*data*/, size_t /*length*/) {
  errno = ENOSYS;
  return -1;
}

ssize_t LogFileAccess::SpliceToEnd(int /*fd*/, int /*pipe_fd*/, size_t /*length*/) {
  errno = ENOSYS;
  return -1;
}

bool LogFileAccess::IdentifyName(const std::string& name, FileIdentity* identity) {
  // Attributes only, shared with everyone: looking must not stop a
  // rotation. FILE_FLAG_BACKUP_SEMANTICS lets a directory be looked at too.
  const HANDLE handle = CreateFileW(Utf16FromUtf8(name).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  const bool known = IdentityOfHandle(handle, identity);
  CloseHandle(handle);
  return known;
}

bool LogFileAccess::IdentifyOpen(int fd, FileIdentity* identity) {
  return IdentityOfHandle(HandleOf(fd), identity);
}

LogFileAccess* LogFileAccess::Default() {
  // Never destroyed: a sink's worker left blocked at exit may still use it.
  static NoDestructor<WindowsLogFileAccess> access;
  return access.get();
}

int OpenSpareDescriptor() {
  // The spare is a handle on NUL; Windows has no per-process handle limit
  // for it to stand in for, but a rotation still closes and reopens it.
  const HANDLE handle = CreateFileW(L"NUL", GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? -1 : FdOf(handle);
}

void CloseSpareDescriptor(int fd) {
  if (fd != -1) CloseHandle(HandleOf(fd));
}

}  // namespace portwick
