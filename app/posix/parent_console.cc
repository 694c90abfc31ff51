// UseParentConsole (app/parent_console.h) on POSIX: a program always has
// its starter's terminal or redirections as descriptors 0 to 2.
#include "app/parent_console.h"

namespace portwick {

void UseParentConsole() {}

}  // namespace portwick
