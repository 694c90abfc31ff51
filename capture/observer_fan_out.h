#ifndef PORTWICK_CAPTURE_OBSERVER_FAN_OUT_H_
#define PORTWICK_CAPTURE_OBSERVER_FAN_OUT_H_

#include <memory>
#include <vector>

#include "engine/session_observer.h"

namespace portwick {

// Hands every event to several observers, in the order they were added.
// Chunks go only to the observers that want them, and WantsChunks is true
// when at least one does. Each member's WantsChunks is read once, by Add.
//
// Add is called by the owner before the fan-out is given to a listener; the
// events come from the engine's threads as SessionObserver says, and reach
// the members on the same threads.
class ObserverFanOut : public SessionObserver {
 public:
  ObserverFanOut() = default;
  ObserverFanOut(const ObserverFanOut&) = delete;
  ObserverFanOut& operator=(const ObserverFanOut&) = delete;

  // Null observers are skipped.
  void Add(std::shared_ptr<SessionObserver> observer);
  bool empty() const { return observers_.empty(); }

  bool WantsChunks() const override { return !chunk_observers_.empty(); }
  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnConditionActed(const SessionConditionActed& event) override;
  void OnClosed(const SessionClosed& event) override;

 private:
  std::vector<std::shared_ptr<SessionObserver>> observers_;
  std::vector<SessionObserver*> chunk_observers_;  // members that want chunks
};

// Passes every event on to `inner` with its `forward` set to the forward's
// number (1, 2, ...), so the observers of a run with several forwards tell
// their sessions apart. Threads as SessionObserver.
class ForwardTagger : public SessionObserver {
 public:
  ForwardTagger(ForwardNumber forward, std::shared_ptr<SessionObserver> inner);

  bool WantsChunks() const override { return wants_chunks_; }
  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnConditionActed(const SessionConditionActed& event) override;
  void OnClosed(const SessionClosed& event) override;

 private:
  const ForwardNumber forward_;
  const std::shared_ptr<SessionObserver> inner_;
  const bool wants_chunks_;
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_OBSERVER_FAN_OUT_H_
