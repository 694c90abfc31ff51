// RelayPump without splicing, and the zero-copy hooks of zero_copy.h doing
// nothing: for platforms (or builds) without splice, pipes to pool or an
// idle parker. Every direction relays by copying on a thread of its own.
#include <cerrno>

#include "engine/relay_pump.h"
#include "engine/zero_copy.h"

namespace portwick {

// Never called: splice_ stays null.
void SpliceRelayDeleter::operator()(SpliceRelay* /*relay*/) const {}

void RelayPump::StartSplicing() {}

std::optional<RelayPump::Progress> RelayPump::RelaySpliced(bool /*may_park*/,
                                                           bool* /*ended_normally*/) {
  return std::nullopt;
}

void RelayPump::EndSplicing() {}

ssize_t RelayPump::ReceiveFromPipe(char* /*buffer*/, size_t /*room*/) { return -EAGAIN; }

uint64_t RelayPump::SplicedBytes() const { return 0; }

namespace zero_copy {

void ReleaseIdlePipes() {}

bool Park(SocketHandle /*fd*/, std::unique_ptr<ThreadTask>& /*task*/) { return false; }

}  // namespace zero_copy

}  // namespace portwick
