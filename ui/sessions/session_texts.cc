#include "ui/sessions/session_texts.h"

#include <cinttypes>
#include <cstdio>

#include "capture/session_label.h"
#include "capture/trace_writer.h"
#include "run/endpoint_text.h"

namespace portwick {

namespace {

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// The failure's reason, or its whole message when it has no reason.
std::string ReasonOf(const Status& status) {
  return status.reason().empty() ? status.Message() : status.reason();
}

}  // namespace

namespace {

std::string BaseStateText(const CapturedSession& session) {
  switch (session.state) {
    case CapturedState::kConnecting:
      return "connecting";
    case CapturedState::kOpen:
      return "open";
    case CapturedState::kHalfClosed:
      return session.client_finished ? "half-closed (client FIN)" : "half-closed (server FIN)";
    case CapturedState::kClosed:
      if (!session.failure.reason().empty()) return "closed: " + session.failure.reason();
      return std::string("closed: ") + CloseReasonText(session.close_reason);
    case CapturedState::kFailed:
      return "failed: " + session.failure.Message();
  }
  return "";
}

}  // namespace

std::string StateText(const CapturedSession& session) {
  std::string text = BaseStateText(session);
  // What a stall condition did, as the trace says it.
  if (session.up_stalled_after) {
    text += "; up stalled after " + std::to_string(*session.up_stalled_after) + " bytes";
  }
  if (session.down_stalled_after) {
    text += "; down stalled after " + std::to_string(*session.down_stalled_after) + " bytes";
  }
  return text;
}

std::string DestinationText(const CapturedSession& session) {
  if (session.state != CapturedState::kConnecting && session.state != CapturedState::kFailed) {
    return session.destination.ToString();
  }
  return portwick::DestinationText(session.destination_host, session.destination_port);
}

std::string SizeText(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  // Three significant digits; 9.996 shows as "10.0", not "10.00".
  const char* format = value < 9.995 ? "%.2f " : value < 99.95 ? "%.1f " : "%.0f ";
  const std::string text = Format(format, value);
  return text + kUnits[unit];
}

std::string DurationText(std::chrono::nanoseconds duration) {
  const double ms = std::chrono::duration<double, std::milli>(duration).count();
  if (ms < 10) return Format("%.1f ms", ms);
  if (ms < 1000) return Format("%.0f ms", ms);
  const double s = ms / 1000;
  if (s < 60) return Format("%.2f s", s);
  const auto total = static_cast<int64_t>(s);
  char buffer[64];
  if (total < 3600) {
    std::snprintf(buffer, sizeof buffer, "%" PRId64 " min %02" PRId64 " s", total / 60, total % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%" PRId64 " h %02" PRId64 " min", total / 3600,
                  total / 60 % 60);
  }
  return buffer;
}

std::string ListenErrorText(int port, const Status& status) {
  return "Cannot open port " + std::to_string(port) + ": " + ReasonOf(status);
}

std::string ConnectErrorText(const CapturedSession& session) {
  const std::string target =
      portwick::DestinationText(session.destination_host, session.destination_port);
  const std::string what =
      session.failure.kind() == Status::Kind::kResolve ? "cannot resolve " : "cannot connect to ";
  return "Session " + SessionLabel(session.forward(), session.number()) + ": " + what + target +
         ": " + ReasonOf(session.failure);
}

std::string LogFileErrorText(const std::string& file_name, const Status& status) {
  const std::string what = status.kind() == Status::Kind::kOpen ? "Cannot open" : "Cannot write";
  return what + " the traffic log " + (file_name.empty() ? "(no file name)" : file_name) + ": " +
         ReasonOf(status);
}

std::string StatusLineText(const StatusFigures& figures) {
  std::string text = figures.listening ? "Listening on port " + std::to_string(figures.port)
                                       : std::string("Stopped");
  if (figures.listening && !figures.destination.empty()) text += " for " + figures.destination;
  if (!figures.conditions.empty()) text += " | Conditions: " + figures.conditions;
  if (figures.capturing) {
    const CaptureCounts& c = figures.counts;
    text += " | " + std::to_string(c.sessions_open) + " open / " +
            std::to_string(c.sessions_total) + (c.sessions_total == 1 ? " session" : " sessions");
    // The list keeps trimmed sessions; only a capture full of sessions alone
    // takes ended ones off it.
    if (c.sessions_dropped > 0) {
      text += " (" + std::to_string(c.sessions_dropped) + " no longer listed)";
    }
    text += " | " + SizeText(c.bytes_up) + " up, " + SizeText(c.bytes_down) + " down";
    if (c.capture_limit > 0) {
      text += " | capture " + SizeText(c.capture_used) + " of " + SizeText(c.capture_limit) + ", " +
              SizeText(c.bytes_dropped) + " dropped";
    } else {
      text += " | capture off";
    }
  }
  if (!figures.last_error.empty()) text += " | " + figures.last_error;
  return text;
}

}  // namespace portwick
