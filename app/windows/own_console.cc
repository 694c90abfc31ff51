// LeaveOwnConsole (app/own_console.h) on Windows.
#include "app/own_console.h"

#include <windows.h>

namespace portwick {

void LeaveOwnConsole() {
  DWORD processes[2] = {};
  // Only this process on the console: Windows made it for this start.
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace portwick
