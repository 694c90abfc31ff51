#include "engine/conditions/live_conditions.h"

#include <random>
#include <string>
#include <utility>

namespace portwick {

namespace {

// A number in [0, 1) for `condition` in the session with `seed`: FNV-1a over
// the condition's text without its probability, mixed with the seed by
// splitmix64's finaliser. The same on every platform.
double SessionDraw(const Condition& condition, uint64_t seed) {
  Condition key = condition;
  key.probability = 1.0;
  uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : ConditionText(key)) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  uint64_t z = hash ^ seed;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

}  // namespace

LiveConditions::LiveConditions(std::vector<Condition> conditions)
    : conditions_(std::make_shared<const std::vector<Condition>>(std::move(conditions))) {}

void LiveConditions::Replace(std::vector<Condition> conditions) {
  auto replacement = std::make_shared<const std::vector<Condition>>(std::move(conditions));
  MutexLock lock(&mutex_);
  conditions_ = std::move(replacement);
  generation_.fetch_add(1, std::memory_order_relaxed);
}

std::shared_ptr<const std::vector<Condition>> LiveConditions::Current(uint64_t* generation) const {
  MutexLock lock(&mutex_);
  if (generation != nullptr) *generation = generation_.load(std::memory_order_relaxed);
  return conditions_;
}

SessionConditions DrawForSession(std::span<const Condition> conditions, uint64_t seed) {
  // The draws are settled here; DrawConditions then only sorts the
  // conditions that act into their directions (a probability of 1 always
  // acts, whatever it draws).
  std::vector<Condition> acting;
  for (const Condition& condition : conditions) {
    if (SessionDraw(condition, seed) >= condition.probability) continue;
    acting.push_back(condition);
    acting.back().probability = 1.0;
  }
  std::mt19937_64 unused(seed);
  return DrawConditions(acting, unused);
}

}  // namespace portwick
