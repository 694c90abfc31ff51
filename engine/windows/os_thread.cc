// StartOsThread on Windows: _beginthreadex with the stack size reserved, the
// thread's handle closed at once (nobody joins it).
#include "engine/os_thread.h"

#include <process.h>
#include <windows.h>

namespace portwick {

namespace {

struct Start {
  OsThreadMain main;
  void* argument;
};

unsigned __stdcall Run(void* start_pointer) {
  const Start start = *static_cast<Start*>(start_pointer);
  delete static_cast<Start*>(start_pointer);
  start.main(start.argument);
  return 0;
}

}  // namespace

bool StartOsThread(OsThreadMain main, void* argument, size_t stack_size) {
  auto* start = new Start{main, argument};
  const uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stack_size), &Run, start,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (handle == 0) {
    delete start;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

}  // namespace portwick
