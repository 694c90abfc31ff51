#include "engine/linux/idle_parker.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <utility>

#include "base/posix/socket_descriptor.h"
#include "engine/linux/epoll_wake.h"

namespace portwick {

namespace {

// How long the watching thread stays after the last parked task left.
constexpr std::chrono::seconds kWatcherLinger{2};
constexpr int kEventsPerWait = 64;
constexpr int kWaitMilliseconds = 500;

// What the wake eventfd's epoll entry points to: no parked entry has it.
char wake_mark;

}  // namespace

struct IdleParker::Entry {
  std::unique_ptr<ThreadTask> task;
  int fd = -1;
  Entry* prev = nullptr;
  Entry* next = nullptr;
  // Its place in deadlines_, when parked with one.
  std::optional<std::multimap<Clock::time_point, Entry*>::iterator> deadline;
};

IdleParker& IdleParker::Default() {
  static NoDestructor<IdleParker> parker;
  return *parker.get();
}

bool IdleParker::Park(SocketHandle fd, std::unique_ptr<ThreadTask>& task,
                      std::optional<Clock::time_point> deadline) {
  Entry* entry = new (std::nothrow) Entry;
  if (entry == nullptr) return false;
  entry->fd = Descriptor(fd);
  MutexLock lock(&mutex_);
  if (!Prepare() || !Link(entry, deadline)) {
    delete entry;
    return false;
  }
  entry->task = std::move(task);
  // A deadline before the watcher's next wake-up would be missed: wake it
  // so it sleeps anew.
  if (deadline && *deadline < wakes_at_) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  }
  return true;
}

bool IdleParker::Prepare() {
  if (!MakeEpollWithWake(&epoll_fd_, &wake_fd_, &wake_mark)) return false;
  return watching_ || StartWatcher();
}

bool IdleParker::Link(Entry* entry, std::optional<Clock::time_point> deadline) {
  if (deadline) {
    try {
      entry->deadline = deadlines_.emplace(*deadline, entry);
    } catch (const std::bad_alloc&) {
      return false;
    }
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
  // A socket parked before stays registered (disarmed) until it is closed
  // or its deadline came.
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, entry->fd, &event) != 0 &&
      (errno != EEXIST || ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, entry->fd, &event) != 0)) {
    Unlink(entry);
    return false;
  }
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
  if (entry->deadline) deadlines_.erase(*entry->deadline);
  --parked_;
}

int IdleParker::SleepMilliseconds(Clock::time_point now) {
  std::chrono::milliseconds sleep(kWaitMilliseconds);
  if (!deadlines_.empty()) {
    const auto until =
        std::chrono::ceil<std::chrono::milliseconds>(deadlines_.begin()->first - now);
    sleep = std::clamp(until, std::chrono::milliseconds(0), sleep);
  }
  wakes_at_ = now + sleep;
  return static_cast<int>(sleep.count());
}

void IdleParker::TakeReady(const epoll_event* events, int count,
                           std::vector<std::unique_ptr<ThreadTask>>* ready) {
  for (int i = 0; i < count; ++i) {
    if (events[i].data.ptr == &wake_mark) {
      uint64_t wakes;
      [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &wakes, sizeof wakes);
      continue;
    }
    auto* entry = static_cast<Entry*>(events[i].data.ptr);
    Unlink(entry);
    ready->push_back(std::move(entry->task));
    delete entry;
  }
  // Readable entries went above, so an entry here has no event waiting in
  // this batch; taken off epoll, it gets none later. As many as `ready` has
  // room for (nothing is allocated here); the rest go next time round.
  const Clock::time_point now = Clock::now();
  while (!deadlines_.empty() && deadlines_.begin()->first <= now &&
         ready->size() < ready->capacity()) {
    Entry* entry = deadlines_.begin()->second;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, entry->fd, nullptr);
    Unlink(entry);
    ready->push_back(std::move(entry->task));
    delete entry;
  }
}

void IdleParker::CloseDescriptors() {
  ::close(epoll_fd_);
  ::close(wake_fd_);
  epoll_fd_ = wake_fd_ = -1;
}

void IdleParker::Watch() {
  int epoll_fd;
  int sleep_ms;
  {
    MutexLock lock(&mutex_);
    epoll_fd = epoll_fd_;
    sleep_ms = SleepMilliseconds(Clock::now());
  }
  epoll_event events[kEventsPerWait];
  std::vector<std::unique_ptr<ThreadTask>> ready;
  ready.reserve(2 * kEventsPerWait);
  auto quiet_since = Clock::now();
  while (true) {
    const int count = ::epoll_wait(epoll_fd, events, kEventsPerWait, sleep_ms);
    {
      MutexLock lock(&mutex_);
      TakeReady(events, std::max(count, 0), &ready);
      const auto now = Clock::now();
      if (parked_ > 0 || !ready.empty()) {
        quiet_since = now;
      } else if (now - quiet_since >= kWatcherLinger) {
        // Its descriptors go too; the next Park makes new ones.
        CloseDescriptors();
        watching_ = false;
        return;
      }
      sleep_ms = SleepMilliseconds(now);
    }
    // A task whose thread can't start is destroyed here, which ends it.
    for (std::unique_ptr<ThreadTask>& task : ready) {
      StartDetachedThread(std::move(task), kRelayStackSize);
    }
    ready.clear();
  }
}

}  // namespace portwick
