#include "engine/descriptor_limit.h"

#include <atomic>

namespace portwick::descriptor_limit {

namespace {
std::atomic<ReachedHandler> handler{nullptr};
std::atomic<uint64_t> times_reached{0};
std::atomic<bool> told{false};  // the handler now set was called
}  // namespace

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
