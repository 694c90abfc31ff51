// UseParentConsole (app/parent_console.h) on Windows.
#include "app/parent_console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace portwick {

namespace {

bool HasHandle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void Reopen(FILE* stream, const char* device, const char* mode) {
  if (std::freopen(device, mode, stream) != nullptr) _setmode(_fileno(stream), _O_BINARY);
}

}  // namespace

void UseParentConsole() {
  if (HasHandle(STD_OUTPUT_HANDLE) || HasHandle(STD_ERROR_HANDLE)) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  Reopen(stdout, "CONOUT$", "w");
  Reopen(stderr, "CONOUT$", "w");
  if (!HasHandle(STD_INPUT_HANDLE)) Reopen(stdin, "CONIN$", "r");
  SetConsoleOutputCP(CP_UTF8);
}

}  // namespace portwick
