#include "ui/sessions/export_command.h"

#include "capture/session_label.h"
#include "ui/sessions/session_export.h"
#include "ui/sessions/session_texts.h"

namespace portwick {

std::optional<std::string> ExportRefusal(const CaptureStore* store, SessionExportKind kind,
                                         SessionId id) {
  if (store == nullptr) return "Export: nothing captured yet";
  if (kind != SessionExportKind::kPcapngAll && id == 0) return "Export: select a session first";
  return std::nullopt;
}

ExportFileOffer ExportFileOfferFor(SessionExportKind kind, SessionId id) {
  const std::string label = KeyLabel(id);
  ExportFileOffer offer;
  switch (kind) {
    case SessionExportKind::kClientBytes:
    case SessionExportKind::kServerBytes:
      offer.filters = {"Raw Data (*.bin)", "All Files (*)"};
      offer.default_suffix = "bin";
      offer.initial_name = "session-" + label +
                           (kind == SessionExportKind::kClientBytes ? "-client-to-server.bin"
                                                                    : "-server-to-client.bin");
      break;
    case SessionExportKind::kTranscript:
      offer.filters = {"Text Files (*.txt)", "All Files (*)"};
      offer.default_suffix = "txt";
      offer.initial_name = "session-" + label + ".txt";
      break;
    case SessionExportKind::kPcapngSession:
    case SessionExportKind::kPcapngAll:
      offer.filters = {"pcapng Files (*.pcapng)", "All Files (*)"};
      offer.default_suffix = "pcapng";
      offer.initial_name = kind == SessionExportKind::kPcapngAll ? "sessions.pcapng"
                                                                 : "session-" + label + ".pcapng";
      break;
  }
  return offer;
}

Status RunExport(const CaptureStore& store, SessionExportKind kind, SessionId id,
                 const std::string& path) {
  switch (kind) {
    case SessionExportKind::kClientBytes:
      return ExportDirection(store, id, Direction::kClientToServer, path);
    case SessionExportKind::kServerBytes:
      return ExportDirection(store, id, Direction::kServerToClient, path);
    case SessionExportKind::kTranscript:
      return ExportTranscript(store, id, path);
    case SessionExportKind::kPcapngSession:
      return ExportPcapng(store, {id}, path);
    case SessionExportKind::kPcapngAll:
      return ExportPcapng(store, {}, path);
  }
  return Status();
}

std::string ExportDoneText(const CaptureStore& store, SessionExportKind kind, SessionId id,
                           const std::string& path) {
  std::string note;
  if (kind != SessionExportKind::kPcapngAll) {
    if (std::optional<CapturedSession> session = store.Session(id); session && session->trimmed()) {
      note = "; the capture had dropped " + SizeText(session->bytes_dropped) + " of it";
    }
  }
  return "Exported to " + path + note;
}

std::string ExportFailedText(const std::string& path, const Status& status) {
  return "Cannot export to " + path + ": " + status.Message();
}

}  // namespace portwick
