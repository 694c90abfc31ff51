#include "descriptor_limit_hold.h"

#if defined(_WIN32)

namespace portwick::testing {

DescriptorLimitHold::DescriptorLimitHold() = default;
DescriptorLimitHold::~DescriptorLimitHold() = default;
bool DescriptorLimitHold::reached() const { return false; }
void DescriptorLimitHold::Free(size_t) {}

}  // namespace portwick::testing

#else

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>

namespace portwick::testing {

DescriptorLimitHold::DescriptorLimitHold() {
  ::getrlimit(RLIMIT_NOFILE, &saved_);
  int highest = 2;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    highest = std::max(highest, std::stoi(entry.path().filename().string()));
  }
  rlimit lowered = saved_;
  lowered.rlim_cur = static_cast<rlim_t>(highest) + 1;
  ::setrlimit(RLIMIT_NOFILE, &lowered);
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers_.push_back(fd);
  error_ = errno;
}

DescriptorLimitHold::~DescriptorLimitHold() {
  for (const int fd : fillers_) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved_);
}

bool DescriptorLimitHold::reached() const { return error_ == EMFILE; }

void DescriptorLimitHold::Free(size_t count) {
  for (; count > 0 && !fillers_.empty(); --count) {
    ::close(fillers_.back());
    fillers_.pop_back();
  }
}

}  // namespace portwick::testing

#endif  // _WIN32
