#include "engine/linux/idle_parker.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "base/posix/socket_descriptor.h"

namespace portwick {

namespace {

// How long the watching thread stays after the last parked task left.
constexpr std::chrono::seconds kWatcherLinger{2};
constexpr int kEventsPerWait = 64;
constexpr int kWaitMilliseconds = 500;

}  // namespace

struct IdleParker::Entry {
  std::unique_ptr<ThreadTask> task;
  Entry* prev = nullptr;
  Entry* next = nullptr;
};

IdleParker& IdleParker::Default() {
  static NoDestructor<IdleParker> parker;
  return *parker.get();
}

bool IdleParker::Park(SocketHandle fd, std::unique_ptr<ThreadTask>& task) {
  Entry* entry = new (std::nothrow) Entry;
  if (entry == nullptr) return false;
  MutexLock lock(&mutex_);
  if (epoll_fd_ < 0) epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0 || (!watching_ && !StartWatcher())) {
    delete entry;
    return false;
  }
  // Linked before the socket is watched: the watcher takes entries under
  // the same mutex, so it can't see this one before the task is in it.
  entry->next = head_;
  if (head_ != nullptr) head_->prev = entry;
  head_ = entry;
  ++parked_;
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.ptr = entry;
  // A socket parked before stays registered (disarmed) until it is closed.
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, Descriptor(fd), &event) != 0 &&
      (errno != EEXIST || ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, Descriptor(fd), &event) != 0)) {
    Unlink(entry);
    delete entry;
    return false;
  }
  entry->task = std::move(task);
  return true;
}

size_t IdleParker::parked() const {
  MutexLock lock(&mutex_);
  return parked_;
}

bool IdleParker::StartWatcher() {
  watching_ = StartDetachedThread(MakeTask([this] { Watch(); }), kRelayStackSize);
  return watching_;
}

void IdleParker::Unlink(Entry* entry) {
  if (entry->prev != nullptr) {
    entry->prev->next = entry->next;
  } else {
    head_ = entry->next;
  }
  if (entry->next != nullptr) entry->next->prev = entry->prev;
  --parked_;
}

void IdleParker::Watch() {
  int epoll_fd;
  {
    MutexLock lock(&mutex_);
    epoll_fd = epoll_fd_;
  }
  epoll_event events[kEventsPerWait];
  std::vector<std::unique_ptr<ThreadTask>> ready;
  ready.reserve(kEventsPerWait);
  auto quiet_since = std::chrono::steady_clock::now();
  while (true) {
    const int count = ::epoll_wait(epoll_fd, events, kEventsPerWait, kWaitMilliseconds);
    {
      MutexLock lock(&mutex_);
      for (int i = 0; i < count; ++i) {
        auto* entry = static_cast<Entry*>(events[i].data.ptr);
        Unlink(entry);
        ready.push_back(std::move(entry->task));
        delete entry;
      }
      const auto now = std::chrono::steady_clock::now();
      if (parked_ > 0 || count > 0) {
        quiet_since = now;
      } else if (now - quiet_since >= kWatcherLinger) {
        // Its descriptor goes too; the next Park makes a new one.
        ::close(epoll_fd_);
        epoll_fd_ = -1;
        watching_ = false;
        return;
      }
    }
    // A task whose thread can't start is destroyed here, which ends it.
    for (std::unique_ptr<ThreadTask>& task : ready) {
      StartDetachedThread(std::move(task), kRelayStackSize);
    }
    ready.clear();
  }
}

}  // namespace portwick
