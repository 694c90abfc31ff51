// WriteFully (base/write_fully.h) on Windows. `fd` is a C runtime descriptor
// (1 and 2 for the console's output); the bytes go to its system handle with
// WriteFile, past the runtime's text mode, so "\n" stays "\n" in a
// redirected trace or log.
#include "base/write_fully.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "base/windows/win32_text.h"

namespace portwick {

int WriteFully(int fd, const char* data, size_t size) {
  // Negated errors, as on POSIX; nothing to write touches no descriptor.
  if (size == 0) return 0;
  const intptr_t os_handle = _get_osfhandle(fd);
  if (os_handle == -1) return -EBADF;
  const HANDLE handle = reinterpret_cast<HANDLE>(os_handle);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr)) return -ErrnoFromWin32(GetLastError());
    if (written == 0) return -EIO;
    data += written;
    size -= written;
  }
  return 0;
}

}  // namespace portwick
