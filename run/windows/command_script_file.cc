// WriteCommandScript (run/command_script.h) on Windows: the bytes as they
// are (the CR LF is in the text already), never through the C runtime's
// text mode, which would make it CR CR LF.
#include <windows.h>

#include "base/windows/win32_text.h"
#include "run/command_script.h"

namespace portwick {

ScriptFileResult WriteCommandScript(const std::string& path, std::string_view text) {
  const HANDLE file = CreateFileW(Utf16FromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ScriptFileResult::kCannotCreate;
  bool ok = true;
  while (!text.empty()) {
    const DWORD chunk = text.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) {
      ok = false;
      break;
    }
    text.remove_prefix(written);
  }
  // CloseHandle reports nothing about the data; FlushFileBuffers would,
  // at the cost of a disk flush per save: a save is rare, so it is paid.
  if (ok && !FlushFileBuffers(file)) ok = false;
  CloseHandle(file);
  return ok ? ScriptFileResult::kWritten : ScriptFileResult::kWriteFailed;
}

}  // namespace portwick
