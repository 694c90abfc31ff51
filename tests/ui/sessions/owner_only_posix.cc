#include <sys/stat.h>

#include "owner_only.h"

namespace portwick::testing {

::testing::AssertionResult OwnerOnly(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return ::testing::AssertionFailure() << "no " << path;
  if ((info.st_mode & 0777) == 0600) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << " has mode " << std::oct << (info.st_mode & 0777);
}

}  // namespace portwick::testing
