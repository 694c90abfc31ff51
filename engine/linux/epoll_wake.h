#ifndef PORTWICK_ENGINE_LINUX_EPOLL_WAKE_H_
#define PORTWICK_ENGINE_LINUX_EPOLL_WAKE_H_

namespace portwick {

// Makes what an epoll thread that must be woken needs: the epoll set when
// `*epoll_fd` is negative, and an eventfd in it when `*wake_fd` is negative,
// whose readiness carries `mark` as its data. Either may fail and is then
// tried again by the next call. True when both exist. The caller owns (and
// closes) both descriptors; call with the caller's lock held.
bool MakeEpollWithWake(int* epoll_fd, int* wake_fd, void* mark);

}  // namespace portwick

#endif  // PORTWICK_ENGINE_LINUX_EPOLL_WAKE_H_
