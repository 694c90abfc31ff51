#include "engine/linux/epoll_wake.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace portwick {

bool MakeEpollWithWake(int* epoll_fd, int* wake_fd, void* mark) {
  if (*epoll_fd < 0) *epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  if (*epoll_fd >= 0 && *wake_fd < 0) {
    *wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = mark;
    if (*wake_fd >= 0 && ::epoll_ctl(*epoll_fd, EPOLL_CTL_ADD, *wake_fd, &event) != 0) {
      ::close(*wake_fd);
      *wake_fd = -1;
    }
  }
  return *epoll_fd >= 0 && *wake_fd >= 0;
}

}  // namespace portwick
