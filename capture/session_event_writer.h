#ifndef PORTWICK_CAPTURE_SESSION_EVENT_WRITER_H_
#define PORTWICK_CAPTURE_SESSION_EVENT_WRITER_H_

#include "engine/session_observer.h"

namespace portwick {

// An observer that turns events into output (the console trace, a pcapng
// file) and may hold some of it back. A QueuedObserver calls every method on
// its one worker thread, in the order the events happened, and Flush at the
// end of each batch and before it stops, so a writer needs no lock of its
// own. Flush writes out whatever is held back.
//
// Abandon is the exception: the queue's owner calls it from its own thread
// when a stop can wait no longer. A writer whose output can block for good
// (a FIFO nobody reads) then gives its blocked write up and writes nothing
// more, so the worker ends. Thread-safe; by default nothing.
//
// Close comes last, from the queue's owner once its worker has ended: the
// writer lets go of its output (closes its file) at once instead of when the
// last session lets go of the writer, so that the next run can open the same
// file again (on Windows an open file can't be opened for writing again).
// Anything after it is dropped. By default nothing.
class SessionEventWriter : public SessionObserver {
 public:
  virtual void Flush() {}
  virtual void Abandon() {}
  virtual void Close() {}
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_SESSION_EVENT_WRITER_H_
