#ifndef PORTWICK_BASE_WRITE_FULLY_H_
#define PORTWICK_BASE_WRITE_FULLY_H_

#include <cstddef>

namespace portwick {

// Writes all `size` bytes to `fd`, going on after partial writes and EINTR.
// Returns 0, or the negated errno of the write that failed (-EAGAIN
// included, for a non-blocking descriptor that is full), as the socket
// helpers in engine/socket_ops.h do. Any thread; the caller keeps `fd`
// open and serialises writers that must not interleave. Implemented per
// platform (base/posix/write_fully.cc).
int WriteFully(int fd, const char* data, size_t size);

}  // namespace portwick

#endif  // PORTWICK_BASE_WRITE_FULLY_H_
