#include "engine/linux/event_loop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <thread>
#include <utility>

#include "engine/detached_thread.h"
#include "engine/linux/epoll_wake.h"

namespace portwick {

namespace {

// How long the thread stays after the last session left.
constexpr std::chrono::seconds kLinger{2};
constexpr int kEventsPerWait = 256;

// What the wake eventfd's epoll entry points to: no session side has it.
char wake_mark;

}  // namespace

struct EventLoop::Round {
  int epoll_fd = -1;
  int wake_fd = -1;
  Timers timers;
  std::vector<std::unique_ptr<LoopSession>> started;  // taken from incoming_
  std::vector<LoopSession*> done;
  std::unique_ptr<char[]> scratch;
  Clock::time_point quiet_since = Clock::now();
};

struct EventLoop::Loops {
  Loops() : count(std::clamp<size_t>(std::thread::hardware_concurrency(), 1, kMaxLoops)) {}
  EventLoop loops[kMaxLoops];
  const size_t count;
  std::atomic<size_t> next{0};

  static Loops& Instance() {
    static NoDestructor<Loops> all;
    return *all.get();
  }
};

EventLoop& EventLoop::ForNextSession() {
  Loops& all = Loops::Instance();
  return all.loops[all.next.fetch_add(1, std::memory_order_relaxed) % all.count];
}

size_t EventLoop::AllSessions() {
  Loops& all = Loops::Instance();
  size_t sessions = 0;
  for (size_t i = 0; i < all.count; ++i) sessions += all.loops[i].sessions();
  return sessions;
}

bool EventLoop::Adopt(std::unique_ptr<LoopSession>& session) {
  MutexLock lock(&mutex_);
  if (!Prepare()) return false;
  try {
    incoming_.push_back(std::move(session));
  } catch (const std::bad_alloc&) {
    return false;
  }
  ++sessions_;
  // One wake-up per batch, and none while the thread is awake: it takes
  // the whole queue after each wait.
  if (incoming_.size() == 1 && sleeping_.load()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  }
  return true;
}

size_t EventLoop::sessions() const {
  MutexLock lock(&mutex_);
  return sessions_;
}

bool EventLoop::Prepare() {
  if (running_) return true;
  if (!MakeEpollWithWake(&epoll_fd_, &wake_fd_, &wake_mark)) return false;
  try {
    running_ = StartDetachedThread(MakeTask([this] { Run(); }), kRelayStackSize);
  } catch (const std::bad_alloc&) {
    running_ = false;
  }
  return running_;
}

void EventLoop::StartIncoming(Round& round) {
  {
    MutexLock lock(&mutex_);
    round.started.swap(incoming_);
  }
  for (std::unique_ptr<LoopSession>& owned : round.started) {
    LoopSession* session = owned.release();  // owned by the loop until Reap
    session->Start(round.epoll_fd, round.scratch.get());
    Settle(round, session);
  }
  round.started.clear();
}

void EventLoop::Settle(Round& round, LoopSession* session) {
  if (session->done()) {
    round.done.push_back(session);
    return;
  }
  const std::optional<Clock::time_point> due = session->Deadline();
  if (!due) return;
  // A timer due later than needed is moved; one due earlier just fires and
  // the session looks again.
  if (session->timer && (*session->timer)->first <= *due) return;
  if (session->timer) round.timers.erase(*session->timer);
  session->timer = round.timers.emplace(*due, session);
}

void EventLoop::FireTimers(Round& round) {
  const Clock::time_point now = Clock::now();
  while (!round.timers.empty() && round.timers.begin()->first <= now) {
    LoopSession* session = round.timers.begin()->second;
    round.timers.erase(round.timers.begin());
    session->timer.reset();
    if (session->done()) continue;
    session->OnTimer(now);
    Settle(round, session);
  }
}

bool EventLoop::Reap(Round& round) {
  // Deleted only now: an event of this round may have named the session
  // after it was done.
  const size_t count = round.done.size();
  for (LoopSession* session : round.done) {
    if (session->timer) round.timers.erase(*session->timer);
    delete session;
  }
  round.done.clear();
  MutexLock lock(&mutex_);
  sessions_ -= count;
  const Clock::time_point now = Clock::now();
  if (sessions_ > 0 || !incoming_.empty()) {
    round.quiet_since = now;
    return false;
  }
  if (now - round.quiet_since < kLinger) return false;
  // Its descriptors go too; the next Adopt makes new ones.
  ::close(epoll_fd_);
  ::close(wake_fd_);
  epoll_fd_ = wake_fd_ = -1;
  running_ = false;
  return true;
}

void EventLoop::Run() {
  Round round;
  {
    MutexLock lock(&mutex_);
    round.epoll_fd = epoll_fd_;
    round.wake_fd = wake_fd_;
  }
  round.scratch = std::make_unique_for_overwrite<char[]>(LoopSession::kScratchSize);
  round.done.reserve(kEventsPerWait);
  epoll_event events[kEventsPerWait];
  while (true) {
    int wait_ms = static_cast<int>(std::chrono::milliseconds(kLinger).count());
    if (!round.timers.empty()) {
      const auto until =
          std::chrono::ceil<std::chrono::milliseconds>(round.timers.begin()->first - Clock::now());
      wait_ms = static_cast<int>(std::clamp<int64_t>(until.count(), 0, wait_ms));
    }
    // Marked asleep before the queue is looked at (both sequentially
    // consistent): a session queued after the look sees the mark and
    // wakes the thread; one queued before it is found.
    sleeping_.store(true);
    bool queued;
    {
      MutexLock lock(&mutex_);
      queued = !incoming_.empty();
    }
    const int count = ::epoll_wait(round.epoll_fd, events, kEventsPerWait, queued ? 0 : wait_ms);
    sleeping_.store(false);
    // New sessions first: an event of this round may be theirs.
    StartIncoming(round);
    for (int i = 0; i < count; ++i) {
      if (events[i].data.ptr == &wake_mark) {
        uint64_t wakes;
        [[maybe_unused]] const ssize_t got = ::read(round.wake_fd, &wakes, sizeof wakes);
        continue;
      }
      const auto* side = static_cast<const LoopSession::Side*>(events[i].data.ptr);
      LoopSession* session = side->owner;
      if (session->done()) continue;
      session->OnEvent(side->index, events[i].events);
      Settle(round, session);
    }
    FireTimers(round);
    if (Reap(round)) return;
  }
}

}  // namespace portwick
