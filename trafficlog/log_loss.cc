#include "trafficlog/log_loss.h"

namespace portwick {

void LogLossCounter::Count(const Status& failure, uint64_t records, uint64_t bytes) {
  bool first = false;
  {
    MutexLock lock(&mutex_);
    first = loss_.first_failure.ok();
    if (first) loss_.first_failure = failure;
    loss_.records += records;
    loss_.bytes += bytes;
  }
  if (first && listener_) listener_(failure);
}

LogLoss LogLossCounter::Snapshot() const {
  MutexLock lock(&mutex_);
  return loss_;
}

}  // namespace portwick
