#ifndef PORTWICK_BASE_WINDOWS_WINSOCK_ERRORS_H_
#define PORTWICK_BASE_WINDOWS_WINSOCK_ERRORS_H_

#include <string>

// Winsock error numbers (WSAGetLastError) as the errno values the engine's
// seams speak, and back, so that code written against errno (ECONNRESET,
// EAGAIN, EMFILE, ...) keeps working and a message can still be the
// system's own text for the Winsock error. Any thread.
namespace portwick {

// The errno value for a Winsock error; the Winsock number itself when it
// has no counterpart (those lie above every errno value).
int ErrnoFromWinsock(int wsa_error);
// The Winsock error an errno value came from, or 0 when it came from none.
int WinsockFromErrno(int error_number);
// The system's message text for a Winsock error (FormatMessage, UTF-8, no
// trailing line break); empty when the system has none.
std::string WinsockMessage(int wsa_error);

}  // namespace portwick

#endif  // PORTWICK_BASE_WINDOWS_WINSOCK_ERRORS_H_
