#include "ui/sessions/session_export.h"

#include <cstdint>

#include "base/write_fully.h"
#include "capture/pcapng_writer.h"
#include "capture/trace_writer.h"
#include "ui/sessions/export_file.h"

namespace portwick {

namespace {

Status Finish(ExportFile& file) {
  const int error = file.Close();
  return error == 0 ? Status() : Status::Error("write", error);
}

// Hands `session`'s events, as far as the store kept them, to `out` in the
// order they happened: open, connect (or its failure), the kept chunks,
// half-closes and the close.
void Replay(const CaptureStore& store, const CapturedSession& s, SessionObserver& out) {
  out.OnOpened(SessionOpened{.session = s.number(),
                             .client = s.client,
                             .listener = s.listener,
                             .time = s.opened,
                             .forward = s.forward()});
  if (s.state == CapturedState::kFailed) {
    out.OnConnectFailed(SessionConnectFailed{.session = s.number(),
                                             .host = s.destination_host,
                                             .port = s.destination_port,
                                             .status = s.failure,
                                             .time = s.last_event,
                                             .forward = s.forward()});
  } else if (s.state != CapturedState::kConnecting) {
    const auto took =
        std::chrono::duration_cast<std::chrono::system_clock::duration>(s.connect_took);
    out.OnConnected(
        SessionConnected{.session = s.number(),
                         .destination = s.destination,
                         .local = s.local,
                         .took = s.connect_took,
                         .time = {s.opened.wall + took, s.opened.monotonic + s.connect_took},
                         .forward = s.forward()});
  }
  const ChunkPage page = store.Chunks(s.id, 0, SIZE_MAX);
  for (const ChunkRef& chunk : page.chunks) {
    out.OnChunk(SessionChunk{.session = s.number(),
                             .direction = chunk->direction(),
                             .time = chunk->time(),
                             .data = chunk->data(),
                             .size = chunk->size(),
                             .forward = s.forward()});
  }
  for (const auto& [finished, direction] :
       {std::pair{s.client_finished, Direction::kClientToServer},
        std::pair{s.server_finished, Direction::kServerToClient}}) {
    if (finished) {
      out.OnHalfClosed(SessionHalfClosed{.session = s.number(),
                                         .direction = direction,
                                         .time = s.last_event,
                                         .forward = s.forward()});
    }
  }
  if (s.ended()) {
    const bool failed = s.state == CapturedState::kFailed;
    out.OnClosed(SessionClosed{.session = s.number(),
                               .how = failed ? CloseReason::kConnectFailed : s.close_reason,
                               .error = failed ? s.failure : Status(),
                               .bytes_up = s.bytes_up,
                               .bytes_down = s.bytes_down,
                               .duration = s.duration,
                               .time = s.last_event,
                               .forward = s.forward()});
  }
}

Status Missing(SessionId id) {
  return Status::Error("find", 0, "session " + std::to_string(id) + " is no longer captured");
}

}  // namespace

Status ExportDirection(const CaptureStore& store, SessionId id, Direction direction,
                       const std::string& path) {
  if (!store.Session(id)) return Missing(id);
  ExportFile file;
  if (const int error = file.Create(path); error != 0) return Status::Error("open", error);
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
  ExportFile memory;
  if (memory.CreateInMemory() != 0) return {};
  {
    TraceWriter writer(memory.fd(), TraceMode::kText);
    Replay(store, *session, writer);
    writer.Flush();
  }
  std::string text;
  if (!memory.ReadAll(&text)) return {};
  return text;
}

Status ExportTranscript(const CaptureStore& store, SessionId id, const std::string& path) {
  if (!store.Session(id)) return Missing(id);
  const std::string text = TranscriptText(store, id);
  ExportFile file;
  if (const int error = file.Create(path); error != 0) return Status::Error("open", error);
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
