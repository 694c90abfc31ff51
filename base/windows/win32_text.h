#ifndef PORTWICK_BASE_WINDOWS_WIN32_TEXT_H_
#define PORTWICK_BASE_WINDOWS_WIN32_TEXT_H_

#include <string>
#include <string_view>

namespace portwick {

// Text at the edge between Portwick (UTF-8 everywhere) and the Windows API
// (UTF-16). Paths, hosts and arguments are converted once where they cross
// that edge, never kept in both forms. Any thread.

// UTF-8 to UTF-16; a byte that is not valid UTF-8 becomes U+FFFD.
std::wstring Utf16FromUtf8(std::string_view text);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::wstring_view text);

// The errno value that stands for a Win32 error code (GetLastError), so that
// seams documented as "-1 with errno set" keep their contract; EIO for a code
// with no counterpart.
int ErrnoFromWin32(unsigned long error);

}  // namespace portwick

#endif  // PORTWICK_BASE_WINDOWS_WIN32_TEXT_H_
