#include "capture/observer_fan_out.h"

#include <utility>

namespace portwick {

void ObserverFanOut::Add(std::shared_ptr<SessionObserver> observer) {
  if (!observer) return;
  if (observer->WantsChunks()) chunk_observers_.push_back(observer.get());
  observers_.push_back(std::move(observer));
}

void ObserverFanOut::OnOpened(const SessionOpened& event) {
  for (const auto& observer : observers_) observer->OnOpened(event);
}

void ObserverFanOut::OnConnected(const SessionConnected& event) {
  for (const auto& observer : observers_) observer->OnConnected(event);
}

void ObserverFanOut::OnConnectFailed(const SessionConnectFailed& event) {
  for (const auto& observer : observers_) observer->OnConnectFailed(event);
}

void ObserverFanOut::OnChunk(const SessionChunk& event) {
  for (SessionObserver* observer : chunk_observers_) observer->OnChunk(event);
}

void ObserverFanOut::OnHalfClosed(const SessionHalfClosed& event) {
  for (const auto& observer : observers_) observer->OnHalfClosed(event);
}

void ObserverFanOut::OnConditionActed(const SessionConditionActed& event) {
  for (const auto& observer : observers_) observer->OnConditionActed(event);
}

void ObserverFanOut::OnClosed(const SessionClosed& event) {
  for (const auto& observer : observers_) observer->OnClosed(event);
}

ForwardTagger::ForwardTagger(ForwardNumber forward, std::shared_ptr<SessionObserver> inner)
    : forward_(forward), inner_(std::move(inner)), wants_chunks_(inner_->WantsChunks()) {}

namespace {

template <typename Event>
Event Tagged(const Event& event, uint32_t forward) {
  Event tagged = event;
  tagged.forward = forward;
  return tagged;
}

}  // namespace

void ForwardTagger::OnOpened(const SessionOpened& event) {
  inner_->OnOpened(Tagged(event, forward_));
}

void ForwardTagger::OnConnected(const SessionConnected& event) {
  inner_->OnConnected(Tagged(event, forward_));
}

void ForwardTagger::OnConnectFailed(const SessionConnectFailed& event) {
  inner_->OnConnectFailed(Tagged(event, forward_));
}

void ForwardTagger::OnChunk(const SessionChunk& event) { inner_->OnChunk(Tagged(event, forward_)); }

void ForwardTagger::OnHalfClosed(const SessionHalfClosed& event) {
  inner_->OnHalfClosed(Tagged(event, forward_));
}

void ForwardTagger::OnConditionActed(const SessionConditionActed& event) {
  inner_->OnConditionActed(Tagged(event, forward_));
}

void ForwardTagger::OnClosed(const SessionClosed& event) {
  inner_->OnClosed(Tagged(event, forward_));
}

}  // namespace portwick
