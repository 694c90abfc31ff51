#include "ui/sessions/export_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace portwick {

ExportFile::~ExportFile() {
  if (fd_ >= 0) ::close(fd_);
}

int ExportFile::Create(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  return fd_ >= 0 ? 0 : errno;
}

int ExportFile::CreateInMemory() {
  fd_ = memfd_create("portwick-transcript", MFD_CLOEXEC);
  return fd_ >= 0 ? 0 : errno;
}

bool ExportFile::ReadAll(std::string* contents) const {
  contents->clear();
  const off_t size = ::lseek(fd_, 0, SEEK_END);
  if (size <= 0) return size == 0;
  contents->resize(static_cast<size_t>(size));
  if (::pread(fd_, contents->data(), contents->size(), 0) == size) return true;
  contents->clear();
  return false;
}

int ExportFile::Close() {
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

}  // namespace portwick
