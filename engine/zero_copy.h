#ifndef PORTWICK_ENGINE_ZERO_COPY_H_
#define PORTWICK_ENGINE_ZERO_COPY_H_

#include <chrono>
#include <memory>
#include <optional>

#include "base/socket_handle.h"
#include "engine/detached_thread.h"

// What the engine asks of relaying without copying, chosen at configure
// time (PORTWICK_ZERO_COPY): on Linux splice through pooled pipes and an
// epoll idle parker (engine/linux/relay_pump_splice.cc); elsewhere, or with
// the option off, nothing (engine/relay_pump_copy.cc) and every direction
// copies. Any thread may call these.
namespace portwick::zero_copy {

// Closes the pipes kept for splicing, so their descriptors go to new
// connections (called when descriptors run short).
void ReleaseIdlePipes();

// Runs `task` on a new thread once `fd` is readable, or at `deadline` if
// that comes first, as IdleParker::Park. False, leaving `task` with the
// caller, when it can't be parked (or there is no parker); the caller then
// waits itself.
bool Park(SocketHandle fd, std::unique_ptr<ThreadTask>& task,
          std::optional<std::chrono::steady_clock::time_point> deadline);

}  // namespace portwick::zero_copy

#endif  // PORTWICK_ENGINE_ZERO_COPY_H_
