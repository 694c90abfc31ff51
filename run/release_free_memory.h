#ifndef PORTWICK_RUN_RELEASE_FREE_MEMORY_H_
#define PORTWICK_RUN_RELEASE_FREE_MEMORY_H_

namespace portwick {

// Hands memory the allocator keeps for reuse back to the system, where the
// platform's allocator offers that (run/linux/release_free_memory.cc:
// malloc_trim); elsewhere it does nothing (run/release_free_memory_none.cc).
// Any thread; may take a while on a large heap.
void ReleaseFreeMemory();

}  // namespace portwick

#endif  // PORTWICK_RUN_RELEASE_FREE_MEMORY_H_
