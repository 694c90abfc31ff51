#include "engine/descriptor_limit.h"

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <climits>

namespace portwick::descriptor_limit {

namespace {
std::atomic<ReachedHandler> handler{nullptr};
std::atomic<uint64_t> times_reached{0};
std::atomic<bool> told{false};  // the handler now set was called
}  // namespace

long RaiseToHardLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -errno;
  if (limit.rlim_cur != limit.rlim_max) {
    const rlim_t soft = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = soft;
  }
  return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

long Current() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -errno;
  return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

void SetReachedHandler(ReachedHandler reached) {
  handler.store(reached);
  told.store(false);
}

void NoteReached(int error) {
  times_reached.fetch_add(1);
  ReachedHandler reached = handler.load();
  if (reached == nullptr || told.exchange(true)) return;
  reached(error, Current());
}

uint64_t TimesReached() { return times_reached.load(); }

}  // namespace portwick::descriptor_limit
