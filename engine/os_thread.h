#ifndef PORTWICK_ENGINE_OS_THREAD_H_
#define PORTWICK_ENGINE_OS_THREAD_H_

#include <cstddef>

// Starts a detached thread of the system with a stack of a chosen size; what
// StartDetachedThread builds its pool on. Implemented per platform
// (engine/posix/os_thread.cc). Any thread.
namespace portwick {

// The thread's function; what it returns is ignored. (The POSIX form, so
// starting costs nothing more there.)
using OsThreadMain = void* (*)(void*);

// Runs `main(argument)` on a new detached thread with `stack_size` bytes of
// stack. False when the thread can't be started (`main` is then not called).
bool StartOsThread(OsThreadMain main, void* argument, size_t stack_size);

}  // namespace portwick

#endif  // PORTWICK_ENGINE_OS_THREAD_H_
