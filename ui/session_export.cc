#include "ui/session_export.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "base/write_fully.h"
#include "capture/pcapng_writer.h"
#include "capture/trace_writer.h"

namespace portwick {

namespace {

// An open file descriptor, closed when it goes.
class File {
 public:
  explicit File(int fd) : fd_(fd) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  // Closes now; the errno of a failed close (a write the system could not
  // finish), or 0.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

File Create(const std::string& path) {
  return File(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

Status Finish(File& file) {
  const int error = file.Close();
  return error == 0 ? Status() : Status::Error("write", error);
}

// Hands `session`'s events, as far as the store kept them, to `out` in the
// order they happened: open, connect (or its failure), the kept chunks,
// half-closes and the close.
void Replay(const CaptureStore& store, const CapturedSession& s, SessionObserver& out) {
  out.OnOpened(SessionOpened{s.id, s.client, s.listener, s.opened});
  if (s.state == CapturedState::kFailed) {
    out.OnConnectFailed(SessionConnectFailed{s.id, s.destination_host, s.destination_port,
                                             s.failure, s.last_event});
  } else if (s.state != CapturedState::kConnecting) {
    const auto took =
        std::chrono::duration_cast<std::chrono::system_clock::duration>(s.connect_took);
    const EventTime connected{s.opened.wall + took, s.opened.monotonic + s.connect_took};
    out.OnConnected(SessionConnected{s.id, s.destination, s.local, s.connect_took, connected});
  }
  const ChunkPage page = store.Chunks(s.id, 0, SIZE_MAX);
  for (const ChunkRef& chunk : page.chunks) {
    out.OnChunk(
        SessionChunk{s.id, chunk->direction(), chunk->time(), chunk->data(), chunk->size()});
  }
  if (s.client_finished) {
    out.OnHalfClosed(SessionHalfClosed{s.id, Direction::kClientToServer, s.last_event});
  }
  if (s.server_finished) {
    out.OnHalfClosed(SessionHalfClosed{s.id, Direction::kServerToClient, s.last_event});
  }
  if (s.ended()) {
    const CloseReason how =
        s.state == CapturedState::kFailed ? CloseReason::kConnectFailed : s.close_reason;
    out.OnClosed(SessionClosed{s.id, how, s.bytes_up, s.bytes_down, s.duration, s.last_event});
  }
}

Status Missing(SessionId id) {
  return Status::Error("find", 0, "session " + std::to_string(id) + " is no longer captured");
}

}  // namespace

Status ExportDirection(const CaptureStore& store, SessionId id, Direction direction,
                       const std::string& path) {
  if (!store.Session(id)) return Missing(id);
  File file = Create(path);
  if (file.fd() < 0) return Status::Error("open", errno);
  const ChunkPage page = store.Chunks(id, 0, SIZE_MAX);
  for (const ChunkRef& chunk : page.chunks) {
    if (chunk->direction() != direction) continue;
    if (const int error = WriteFully(file.fd(), chunk->data(), chunk->size())) {
      return Status::Error("write", error);
    }
  }
  return Finish(file);
}

std::string TranscriptText(const CaptureStore& store, SessionId id) {
  const std::optional<CapturedSession> session = store.Session(id);
  if (!session) return {};
  // The trace writer writes to a descriptor: a file in memory here.
  File memory(memfd_create("portwick-transcript", MFD_CLOEXEC));
  if (memory.fd() < 0) return {};
  {
    TraceWriter writer(memory.fd(), TraceMode::kText);
    Replay(store, *session, writer);
    writer.Flush();
  }
  std::string text;
  const off_t size = ::lseek(memory.fd(), 0, SEEK_END);
  if (size <= 0) return text;
  text.resize(static_cast<size_t>(size));
  if (::pread(memory.fd(), text.data(), text.size(), 0) != size) return {};
  return text;
}

Status ExportTranscript(const CaptureStore& store, SessionId id, const std::string& path) {
  if (!store.Session(id)) return Missing(id);
  const std::string text = TranscriptText(store, id);
  File file = Create(path);
  if (file.fd() < 0) return Status::Error("open", errno);
  if (const int error = WriteFully(file.fd(), text.data(), text.size())) {
    return Status::Error("write", error);
  }
  return Finish(file);
}

Status ExportPcapng(const CaptureStore& store, const std::vector<SessionId>& ids,
                    const std::string& path) {
  std::vector<CapturedSession> sessions;
  if (ids.empty()) {
    sessions = store.Sessions();
  } else {
    for (SessionId id : ids) {
      std::optional<CapturedSession> session = store.Session(id);
      if (!session) return Missing(id);
      sessions.push_back(std::move(*session));
    }
  }
  PcapngWriter writer(path);
  if (!writer.status().ok()) return writer.status();
  for (const CapturedSession& session : sessions) Replay(store, session, writer);
  writer.Flush();
  return writer.status();
}

}  // namespace portwick
