#include "run/release_free_memory.h"

#include <malloc.h>

namespace portwick {

void ReleaseFreeMemory() { malloc_trim(0); }

}  // namespace portwick
