// Windows has no limit on open sockets or files per process to raise.
#include <climits>

#include "engine/descriptor_limit.h"

namespace portwick::descriptor_limit {

long RaiseToHardLimit() { return LONG_MAX; }

long Current() { return LONG_MAX; }

}  // namespace portwick::descriptor_limit
