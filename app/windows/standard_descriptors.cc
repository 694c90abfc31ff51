// EnsureStandardDescriptors (app/standard_descriptors.h) on Windows. Sockets
// and files are handles there, never C runtime descriptors 0 to 2, so a
// closed standard stream can't be taken over by a connection: nothing needs
// reopening. What Windows needs instead at the start: the standard streams
// in binary mode, so that "\n" stays "\n" when the trace or the raw bytes
// are redirected, and the console's output code page set to UTF-8, the
// encoding of everything Portwick prints.
#include "app/standard_descriptors.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace portwick {

namespace {
// The console's code page before ours: the console outlives the process and
// its other programs (the shell) expect their own back.
UINT previous_output_code_page = 0;
void RestoreOutputCodePage() { SetConsoleOutputCP(previous_output_code_page); }
}  // namespace

bool EnsureStandardDescriptors() {
  for (FILE* stream : {stdin, stdout, stderr}) {
    const int fd = _fileno(stream);
    // No stream (started without a console): nothing to set.
    if (fd >= 0 && _get_osfhandle(fd) != -1) _setmode(fd, _O_BINARY);
  }
  // Without a console (0) there is nothing to set: the bytes are UTF-8
  // anyway.
  const UINT previous = GetConsoleOutputCP();
  if (previous != 0 && previous != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    previous_output_code_page = previous;
    std::atexit(RestoreOutputCodePage);
  }
  return true;
}

}  // namespace portwick
