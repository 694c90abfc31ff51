#include "capture/trace_writer.h"

#include "base/write_fully.h"
#include "capture/session_label.h"
#include "capture/trace_format.h"

namespace portwick {

namespace {
// Output held before it is written even without a Flush.
constexpr size_t kWriteSize = size_t{256} << 10;
}  // namespace

const char* CloseReasonText(CloseReason how) {
  switch (how) {
    case CloseReason::kBothFinished:
      return "client FIN, server FIN";
    case CloseReason::kResetByClient:
      return "reset by client";
    case CloseReason::kResetByServer:
      return "reset by server";
    case CloseReason::kSendError:
      return "send error";
    case CloseReason::kStopped:
      return "stopped";
    case CloseReason::kConnectFailed:
      return "connect failed";
    case CloseReason::kCut:
      return "cut";
    case CloseReason::kIdle:
      return "idle";
  }
  return "closed";
}

TraceWriter::TraceWriter(int fd, TraceMode mode) : fd_(fd), mode_(mode) {}

TraceWriter::~TraceWriter() { Flush(); }

void TraceWriter::BeginHeader(ForwardNumber forward, SessionId number,
                              std::chrono::system_clock::time_point time) {
  AppendClockTime(buffer_, time);
  buffer_ += " #";
  buffer_ += SessionLabel(forward, number);
  buffer_ += ' ';
}

void TraceWriter::OnOpened(const SessionOpened& event) {
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += "open from ";
  buffer_ += event.client.ToString();
  buffer_ += '\n';
  FlushIfLarge();
}

void TraceWriter::OnConnected(const SessionConnected& event) {
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += "connected to ";
  buffer_ += event.destination.ToString();
  buffer_ += " in ";
  buffer_ += Milliseconds(event.took);
  buffer_ += '\n';
  FlushIfLarge();
}

void TraceWriter::OnConnectFailed(const SessionConnectFailed& event) {
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += "cannot connect to ";
  buffer_ += FormatDestination(event.host, event.port);
  buffer_ += ": ";
  buffer_ += event.status.reason();
  buffer_ += '\n';
  FlushIfLarge();
}

void TraceWriter::OnChunk(const SessionChunk& event) {
  if (!WantsChunks()) return;
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += event.direction == Direction::kClientToServer ? "> " : "< ";
  buffer_ += ByteCount(event.size);
  if (event.held.count() > 0) {
    // Held by a traffic condition; the line's time is when it was sent.
    buffer_ += " delayed ";
    buffer_ += Milliseconds(event.held);
  }
  buffer_ += '\n';
  if (mode_ == TraceMode::kHex) {
    AppendHexDump(buffer_, event.data, event.size, 0, kTraceDataMark);
  } else {
    AppendEscapedText(buffer_, event.data, event.size, kTraceDataMark);
  }
  FlushIfLarge();
}

void TraceWriter::OnHalfClosed(const SessionHalfClosed& event) {
  const bool up = event.direction == Direction::kClientToServer;
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += up ? "half-close >\n" : "half-close <\n";
  std::string& fins = fins_[CaptureKeyOf(event)];
  if (!fins.empty()) fins += ", ";
  fins += up ? "client FIN" : "server FIN";
  FlushIfLarge();
}

void TraceWriter::OnConditionActed(const SessionConditionActed& event) {
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += event.direction == Direction::kClientToServer ? "> " : "< ";
  if (event.kind == SessionConditionActed::Kind::kCut) {
    buffer_ += "cut after " + ByteCount(event.bytes) + (event.reset ? ": reset\n" : ": fin\n");
  } else {
    buffer_ += "stalled after " + ByteCount(event.bytes) + '\n';
  }
  FlushIfLarge();
}

void TraceWriter::OnClosed(const SessionClosed& event) {
  std::string fins;
  if (const auto found = fins_.find(CaptureKeyOf(event)); found != fins_.end()) {
    fins = std::move(found->second);
    fins_.erase(found);
  }
  std::string how;
  if ((event.how == CloseReason::kCut || event.how == CloseReason::kIdle) &&
      !event.error.reason().empty()) {
    // What the condition or the limit did: "cut after 4096 bytes: reset",
    // "idle 30 s".
    how = event.error.reason();
  } else if (event.how == CloseReason::kBothFinished) {
    // Both FINs in the order they came, when both were seen.
    how = fins.find(',') != std::string::npos ? fins : CloseReasonText(event.how);
  } else {
    how = fins.empty() ? CloseReasonText(event.how) : fins + ", " + CloseReasonText(event.how);
  }
  BeginHeader(event.forward, event.session, event.time.wall);
  buffer_ += "closed: ";
  buffer_ += how;
  buffer_ += "; ";
  buffer_ += ByteCount(event.bytes_up);
  buffer_ += " up, ";
  buffer_ += ByteCount(event.bytes_down);
  buffer_ += " down, ";
  buffer_ += Milliseconds(event.duration);
  buffer_ += '\n';
  FlushIfLarge();
}

void TraceWriter::FlushIfLarge() {
  if (buffer_.size() >= kWriteSize) Flush();
}

void TraceWriter::Flush() {
  if (buffer_.empty()) return;
  if (WriteFully(fd_, buffer_.data(), buffer_.size()) != 0) write_failed_ = true;
  buffer_.clear();
}

}  // namespace portwick
