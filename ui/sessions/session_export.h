#ifndef PORTWICK_UI_SESSIONS_SESSION_EXPORT_H_
#define PORTWICK_UI_SESSIONS_SESSION_EXPORT_H_

#include <string>
#include <vector>

#include "base/status.h"
#include "capture/capture_store.h"

namespace portwick {

// Writing what the capture store holds of sessions into files. The file is
// created or emptied; a failure names its step ("open", "write") and the
// system's reason. Sessions the capture trimmed are written with what it
// kept. Any thread; the store may be written meanwhile (each export reads
// one consistent page of references).

// The bytes one way, exactly as relayed and with nothing added.
Status ExportDirection(const CaptureStore& store, SessionId id, Direction direction,
                       const std::string& path);

// A transcript in the console trace's format: header lines for the
// session's events ("HH:MM:SS.uuuuuu #N > K bytes", ...) and below each
// chunk its bytes as escaped text.
Status ExportTranscript(const CaptureStore& store, SessionId id, const std::string& path);

// The sessions `ids` (all listed sessions when empty) as one pcapng file, each
// as a TCP conversation between its client and its destination.
Status ExportPcapng(const CaptureStore& store, const std::vector<SessionId>& ids,
                    const std::string& path);

// The transcript text of session `id` (empty when the store lacks it).
std::string TranscriptText(const CaptureStore& store, SessionId id);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_SESSION_EXPORT_H_
