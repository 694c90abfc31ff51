#ifndef PORTWICK_APP_STDOUT_PANE_H_
#define PORTWICK_APP_STDOUT_PANE_H_

#include "base/mutex.h"
#include "trafficlog/output_pane.h"

namespace portwick {

// Shows the traffic on a file descriptor (standard output in console mode):
// each text is written whole, unconverted, before AppendText returns.
//
// Thread safety: AppendText may be called from any number of threads at once;
// one call's text is never interleaved with another's. The descriptor is
// borrowed and must stay open while the pane is in use. When writing fails
// (for example a closed pipe, with SIGPIPE ignored) the text is dropped.
class StdoutPane : public OutputPane {
 public:
  explicit StdoutPane(int fd = 1) : fd_(fd) {}
  StdoutPane(const StdoutPane&) = delete;
  StdoutPane& operator=(const StdoutPane&) = delete;

  void AppendText(const char* text) override LOCKS_EXCLUDED(mutex_);

 private:
  const int fd_;
  Mutex mutex_;  // held for a whole text, so that texts don't interleave
};

}  // namespace portwick

#endif  // PORTWICK_APP_STDOUT_PANE_H_
