#ifndef PORTWICK_BASE_LOCAL_TIME_H_
#define PORTWICK_BASE_LOCAL_TIME_H_

#include <ctime>

namespace portwick {

// The local calendar time of `seconds` since the epoch, in the time zone the
// process runs in. Thread-safe (unlike std::localtime); implemented per
// platform (base/posix/local_time.cc). A zeroed tm when it can't be had.
std::tm LocalTime(std::time_t seconds);

}  // namespace portwick

#endif  // PORTWICK_BASE_LOCAL_TIME_H_
