#include "trafficlog/log_file_access.h"

namespace portwick {

ssize_t LogFileAccess::WriteVector(int fd, const WritePiece* pieces, int count) {
  for (int i = 0; i < count; ++i) {
    if (pieces[i].length > 0) return Write(fd, pieces[i].data, pieces[i].length);
  }
  return 0;
}

}  // namespace portwick
