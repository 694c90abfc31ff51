// LeaveOwnConsole (app/own_console.h) on POSIX: a terminal is never made
// for a program, so there is none of its own to leave.
#include "app/own_console.h"

namespace portwick {

void LeaveOwnConsole() {}

}  // namespace portwick
