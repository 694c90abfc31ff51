#ifndef PORTWICK_UI_SESSIONS_EXPORT_COMMAND_H_
#define PORTWICK_UI_SESSIONS_EXPORT_COMMAND_H_

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "capture/capture_store.h"

namespace portwick {

// The Sessions window's Export command apart from its dialogs: what the Save
// dialog offers for each kind, the export itself and what the message line
// says after it. Pure functions; the window's thread (the store may be
// written meanwhile, see session_export.h).

enum class SessionExportKind {
  kClientBytes,
  kServerBytes,
  kTranscript,
  kPcapngSession,
  kPcapngAll
};

// Why an export cannot start: no store, or no session selected for a kind
// that needs one (`id` 0). Nothing when it can.
std::optional<std::string> ExportRefusal(const CaptureStore* store, SessionExportKind kind,
                                         SessionId id);

// What the Save dialog offers: filters as shown (the first one selected),
// the suffix added to a name typed without one, and the name proposed
// ("session-2-client-to-server.bin", "sessions.pcapng").
struct ExportFileOffer {
  std::vector<std::string> filters;
  std::string default_suffix;
  std::string initial_name;
};
ExportFileOffer ExportFileOfferFor(SessionExportKind kind, SessionId id);

// Writes session `id` (all sessions for kPcapngAll) to `path`.
Status RunExport(const CaptureStore& store, SessionExportKind kind, SessionId id,
                 const std::string& path);

// "Exported to /x/y.bin", with what the capture had dropped of the session;
// or "Cannot export to /x/y.bin: open: No such file or directory".
std::string ExportDoneText(const CaptureStore& store, SessionExportKind kind, SessionId id,
                           const std::string& path);
std::string ExportFailedText(const std::string& path, const Status& status);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_EXPORT_COMMAND_H_
