#include "ui/framework/message_loop.h"

#include <algorithm>

namespace portwick {

namespace {

template <typename T>
bool RemoveFirst(std::vector<T*>& list, T* item, bool iterating) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end()) return false;
  if (iterating) {
    *it = nullptr;  // compacted once no walk is in progress
  } else {
    list.erase(it);
  }
  return true;
}

}  // namespace

bool MessageLoop::AddMessageFilter(MessageFilter* filter) {
  if (filter == nullptr) return false;
  filters_.push_back(filter);
  return true;
}

bool MessageLoop::RemoveMessageFilter(MessageFilter* filter) {
  if (filter == nullptr) return false;
  return RemoveFirst(filters_, filter, iterating_ > 0);
}

bool MessageLoop::AddIdleHandler(IdleHandler* handler) {
  if (handler == nullptr) return false;
  idle_handlers_.push_back(handler);
  return true;
}

bool MessageLoop::RemoveIdleHandler(IdleHandler* handler) {
  if (handler == nullptr) return false;
  return RemoveFirst(idle_handlers_, handler, iterating_ > 0);
}

void MessageLoop::CompactLists() {
  if (iterating_ > 0) return;
  std::erase(filters_, nullptr);
  std::erase(idle_handlers_, nullptr);
}

bool MessageLoop::PreTranslateMessage(const Message& message) {
  ++iterating_;
  bool consumed = false;
  // Filters added later see the message first.
  for (size_t i = filters_.size(); i > 0 && !consumed; --i) {
    MessageFilter* filter = filters_[i - 1];
    if (filter != nullptr) consumed = filter->PreTranslateMessage(message);
  }
  --iterating_;
  CompactLists();
  return consumed;
}

bool MessageLoop::OnIdle(int /*idle_count*/) {
  ++iterating_;
  // Handlers added during the walk are called in the same walk.
  for (size_t i = 0; i < idle_handlers_.size(); ++i) {
    IdleHandler* handler = idle_handlers_[i];
    if (handler != nullptr) handler->OnIdle();
  }
  --iterating_;
  CompactLists();
  return false;
}

void MessageLoop::PostQuit(int exit_code) {
  if (!quit_requested_) {
    quit_requested_ = true;
    quit_code_ = exit_code;
  }
  EndRun();
}

}  // namespace portwick
