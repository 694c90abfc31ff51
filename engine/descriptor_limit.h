#ifndef PORTWICK_ENGINE_DESCRIPTOR_LIMIT_H_
#define PORTWICK_ENGINE_DESCRIPTOR_LIMIT_H_

#include <cstdint>

// The process's limit on open descriptors. Every session takes two sockets
// (and a spliced one briefly a pipe), so the start-up raises the soft limit
// as far as the hard limit allows; when the limit is reached anyway, new
// connections wait in the listening queue, and the process says so.
// RaiseToHardLimit and Current ask the system (engine/posix/
// descriptor_limit_rlimit.cc); the rest is the same on every platform.
namespace portwick::descriptor_limit {

// Raises the soft limit to the hard limit. Returns the soft limit now in
// force (LONG_MAX for none), or -errno when it can't be read. Call at
// start-up, before threads.
long RaiseToHardLimit();

// The soft limit now in force (LONG_MAX for none), or -errno.
long Current();

// Called the first time the limit was reached after it was set, with the errno (EMFILE
// for the process's limit, ENFILE for the system's) and the limit. Runs on
// the thread that hit the limit (an accept thread): quick and thread-safe.
using ReachedHandler = void (*)(int error, long limit);

// Sets the handler (null: none), which is then told once. Set it before
// listening.
void SetReachedHandler(ReachedHandler handler);

// Notes that a descriptor could not be had for lack of descriptors (`error`
// EMFILE or ENFILE); calls the handler the first time since it was set. Any
// thread, no lock.
void NoteReached(int error);

// How often the limit was reached since start-up (for a status display that
// looks now and then). Any thread.
uint64_t TimesReached();

}  // namespace portwick::descriptor_limit

#endif  // PORTWICK_ENGINE_DESCRIPTOR_LIMIT_H_
