#ifndef PORTWICK_TRAFFICLOG_LINUX_SPLICE_TO_END_H_
#define PORTWICK_TRAFFICLOG_LINUX_SPLICE_TO_END_H_

#include <sys/types.h>

#include <cstddef>

namespace portwick {

// Moves up to `length` bytes from the pipe `pipe_fd` to the end of the file
// open on `fd` (opened with O_APPEND) with splice(2): the count moved, or -1
// with errno set (EINVAL when the file can't take it, or has no end to seek
// to: a FIFO). Linux refuses to splice to a file opened for appending, so
// O_APPEND is cleared on the open file for the call and set again after it:
// the caller must be the only one writing through that open file meanwhile
// (the log file's lock), and the bytes go at the end the file has then. Any
// thread, under that lock.
ssize_t SpliceToFileEnd(int fd, int pipe_fd, size_t length);

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LINUX_SPLICE_TO_END_H_
