#include "run/release_free_memory.h"

namespace portwick {

// This platform's allocator offers no way to hand memory back on request.
void ReleaseFreeMemory() {}

}  // namespace portwick
