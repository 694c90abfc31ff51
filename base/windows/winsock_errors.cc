#include "base/windows/winsock_errors.h"

#include <windows.h>
#include <winsock2.h>

#include <cerrno>
#include <string>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

struct Pair {
  int wsa;
  int errno_value;
};

// The Winsock errors the engine looks at or reports, with their errno twins.
constexpr Pair kPairs[] = {
    {WSAEINTR, EINTR},
    {WSAEBADF, EBADF},
    {WSAEACCES, EACCES},
    {WSAEFAULT, EFAULT},
    {WSAEINVAL, EINVAL},
    {WSAEMFILE, EMFILE},
    {WSAEWOULDBLOCK, EAGAIN},
    {WSAEINPROGRESS, EINPROGRESS},
    {WSAEALREADY, EALREADY},
    {WSAENOTSOCK, ENOTSOCK},
    {WSAEDESTADDRREQ, EDESTADDRREQ},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAEPROTOTYPE, EPROTOTYPE},
    {WSAENOPROTOOPT, ENOPROTOOPT},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT},
    {WSAEOPNOTSUPP, EOPNOTSUPP},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETDOWN, ENETDOWN},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAENETRESET, ENETRESET},
    {WSAECONNABORTED, ECONNABORTED},
    {WSAECONNRESET, ECONNRESET},
    {WSAENOBUFS, ENOBUFS},
    {WSAEISCONN, EISCONN},
    {WSAENOTCONN, ENOTCONN},
    {WSAESHUTDOWN, EPIPE},
    {WSAETIMEDOUT, ETIMEDOUT},
    {WSAECONNREFUSED, ECONNREFUSED},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
    {WSAENAMETOOLONG, ENAMETOOLONG},
    {WSA_OPERATION_ABORTED, ECANCELED},
    {WSA_NOT_ENOUGH_MEMORY, ENOMEM},
};

}  // namespace

int ErrnoFromWinsock(int wsa_error) {
  for (const Pair& pair : kPairs) {
    if (pair.wsa == wsa_error) return pair.errno_value;
  }
  return wsa_error;
}

int WinsockFromErrno(int error_number) {
  for (const Pair& pair : kPairs) {
    if (pair.errno_value == error_number) return pair.wsa;
  }
  // A Winsock number with no errno twin stands for itself.
  return error_number >= WSABASEERR ? error_number : 0;
}

std::string WinsockMessage(int wsa_error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(wsa_error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return std::string();
  std::wstring_view view(text, length);
  while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' ' ||
                           view.back() == L'.')) {
    view.remove_suffix(1);
  }
  std::string message = Utf8FromUtf16(view);
  LocalFree(text);
  return message;
}

}  // namespace portwick
