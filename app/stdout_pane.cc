#include "app/stdout_pane.h"

#include <cstring>

#include "base/write_fully.h"

namespace portwick {

void StdoutPane::AppendText(const char* text) {
  MutexLock lock(&mutex_);
  WriteFully(fd_, text, std::strlen(text));
}

}  // namespace portwick
