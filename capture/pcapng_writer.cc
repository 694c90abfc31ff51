#include "capture/pcapng_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "capture/session_label.h"
#include "capture/tcp_packet.h"

namespace portwick {

namespace {

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescriptionBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kLinkTypeRaw = 101;  // raw IPv4 or IPv6, told by the version nibble
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionUserApplication = 4;      // section header
constexpr uint16_t kOptionTimestampResolution = 9;  // interface description
constexpr uint8_t kNanoseconds = 9;
// Output held before it is written even without a Flush.
constexpr size_t kWriteSize = size_t{1} << 20;

// pcapng fields are in the writer's byte order, which the section header's
// magic number announces.
template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

void PadTo32Bits(std::string& out) { out.append((4 - out.size() % 4) % 4, '\0'); }

void PutOption(std::string& out, uint16_t code, const std::string& value) {
  Put<uint16_t>(out, code);
  Put<uint16_t>(out, static_cast<uint16_t>(value.size()));
  out += value;
  PadTo32Bits(out);
}

// A mixed-up session id, so the sequence numbers start where real ones
// might; the same id always gives the same numbers.
uint32_t InitialSequence(SessionId id, uint64_t salt) {
  uint64_t x = id * 0x9E3779B97F4A7C15ULL + salt;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return static_cast<uint32_t>(x ^ (x >> 31));
}

}  // namespace

PcapngWriter::PcapngWriter(const std::string& path, FailureReport on_failure)
    : on_failure_(std::move(on_failure)) {
  // Non-blocking (see CaptureFile), so that a FIFO without a reader fails
  // instead of holding the open (and the stop signals' thread) for good, and
  // Abandon can end a write waiting for a reader that stopped reading.
  if (const int error = file_.emplace().Open(path); error != 0) {
    status_ = Status::Error("open", error);
    return;
  }
  std::string section;
  Put<uint32_t>(section, kByteOrderMagic);
  Put<uint16_t>(section, 1);  // version 1.0
  Put<uint16_t>(section, 0);
  Put<int64_t>(section, -1);  // section length not given
  PutOption(section, kOptionUserApplication, "Portwick");
  Put<uint32_t>(section, kOptionEnd);
  AppendBlock(kSectionHeaderBlock, section);

  std::string interface;
  Put<uint16_t>(interface, kLinkTypeRaw);
  Put<uint16_t>(interface, 0);
  Put<uint32_t>(interface, 0);  // no snapshot length limit
  PutOption(interface, kOptionTimestampResolution, std::string(1, static_cast<char>(kNanoseconds)));
  Put<uint32_t>(interface, kOptionEnd);
  AppendBlock(kInterfaceDescriptionBlock, interface);
  WriteOut();
}

PcapngWriter::~PcapngWriter() { Flush(); }

void PcapngWriter::Abandon() {
  if (file_) file_->Abandon();
}

void PcapngWriter::Close() {
  Flush();
  file_.reset();
}

void PcapngWriter::AppendBlock(uint32_t type, const std::string& body) {
  const auto total = static_cast<uint32_t>(12 + body.size());
  Put<uint32_t>(buffer_, type);
  Put<uint32_t>(buffer_, total);
  buffer_ += body;
  Put<uint32_t>(buffer_, total);
}

void PcapngWriter::Segment(Conversation& conversation, bool from_client, uint8_t flags,
                           const EventTime& time, const char* payload, size_t size) {
  Side& sender = from_client ? conversation.client : conversation.server;
  Side& receiver = from_client ? conversation.server : conversation.client;
  TcpSegment segment;
  segment.from = sender.endpoint;
  segment.to = receiver.endpoint;
  segment.sequence = sender.next_sequence;
  segment.acknowledgement = (flags & kTcpAck) != 0 ? receiver.next_sequence : 0;
  segment.flags = flags;
  segment.ip_id = sender.ip_id++;
  segment.payload = payload;
  segment.payload_size = size;
  sender.next_sequence += static_cast<uint32_t>(size);
  if ((flags & (kTcpSyn | kTcpFin)) != 0) ++sender.next_sequence;

  // The enhanced packet block is built in place: lengths are filled in once
  // the packet is there.
  const auto nanoseconds = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(time.wall.time_since_epoch()).count());
  const size_t block = buffer_.size();
  Put<uint32_t>(buffer_, kEnhancedPacketBlock);
  Put<uint32_t>(buffer_, 0);  // total length, below
  Put<uint32_t>(buffer_, 0);  // interface
  Put<uint32_t>(buffer_, static_cast<uint32_t>(nanoseconds >> 32));
  Put<uint32_t>(buffer_, static_cast<uint32_t>(nanoseconds & 0xFFFFFFFF));
  const size_t lengths = buffer_.size();
  Put<uint64_t>(buffer_, 0);  // captured and original length, below
  const size_t packet = buffer_.size();
  AppendTcpPacket(buffer_, segment);
  const auto packet_size = static_cast<uint32_t>(buffer_.size() - packet);
  std::memcpy(buffer_.data() + lengths, &packet_size, sizeof packet_size);
  std::memcpy(buffer_.data() + lengths + 4, &packet_size, sizeof packet_size);
  PadTo32Bits(buffer_);
  const auto total = static_cast<uint32_t>(buffer_.size() - block + 4);
  Put<uint32_t>(buffer_, total);
  std::memcpy(buffer_.data() + block + 4, &total, sizeof total);
  ++packets_;
  if (buffer_.size() >= kWriteSize) WriteOut();
}

void PcapngWriter::OnOpened(const SessionOpened& event) {
  Conversation& conversation = conversations_[CaptureKeyOf(event)];
  conversation.client.endpoint = event.client;
  conversation.opened = event.time;
}

void PcapngWriter::OnConnected(const SessionConnected& event) {
  const auto found = conversations_.find(CaptureKeyOf(event));
  if (found == conversations_.end()) return;
  Conversation& conversation = found->second;
  conversation.server.endpoint = event.destination;
  MatchFamilies(&conversation.client.endpoint, &conversation.server.endpoint);
  conversation.client.next_sequence = InitialSequence(CaptureKeyOf(event), 1);
  conversation.server.next_sequence = InitialSequence(CaptureKeyOf(event), 2);
  conversation.connected = true;
  Segment(conversation, true, kTcpSyn, conversation.opened);
  Segment(conversation, false, kTcpSyn | kTcpAck, event.time);
  Segment(conversation, true, kTcpAck, event.time);
}

void PcapngWriter::OnConnectFailed(const SessionConnectFailed& event) {
  conversations_.erase(CaptureKeyOf(event));
}

void PcapngWriter::OnChunk(const SessionChunk& event) {
  const auto found = conversations_.find(CaptureKeyOf(event));
  if (found == conversations_.end() || !found->second.connected) return;
  Conversation& conversation = found->second;
  const bool from_client = event.direction == Direction::kClientToServer;
  const Side& sender = from_client ? conversation.client : conversation.server;
  const size_t largest = MaxTcpPayload(sender.endpoint, sender.endpoint);
  size_t done = 0;
  while (done < event.size) {
    const size_t size = std::min(largest, event.size - done);
    const bool last = done + size == event.size;
    Segment(conversation, from_client, kTcpAck | (last ? kTcpPsh : 0), event.time,
            event.data + done, size);
    done += size;
  }
}

void PcapngWriter::OnHalfClosed(const SessionHalfClosed& event) {
  const auto found = conversations_.find(CaptureKeyOf(event));
  if (found == conversations_.end() || !found->second.connected) return;
  Conversation& conversation = found->second;
  const bool from_client = event.direction == Direction::kClientToServer;
  Side& sender = from_client ? conversation.client : conversation.server;
  if (sender.finished) return;
  sender.finished = true;
  Segment(conversation, from_client, kTcpFin | kTcpAck, event.time);
  Segment(conversation, !from_client, kTcpAck, event.time);
}

void PcapngWriter::OnClosed(const SessionClosed& event) {
  const auto found = conversations_.find(CaptureKeyOf(event));
  if (found == conversations_.end()) return;
  Conversation& conversation = found->second;
  if (conversation.connected) {
    switch (event.how) {
      case CloseReason::kBothFinished:
      case CloseReason::kConnectFailed:
      case CloseReason::kIdle:
        break;
      case CloseReason::kCut:
        // A cut with a reset (its error number); one with a FIN came as
        // half-closes.
        if (event.error.error_number() == 0) break;
        Segment(conversation, true, kTcpRst | kTcpAck, event.time);
        Segment(conversation, false, kTcpRst | kTcpAck, event.time);
        break;
      case CloseReason::kResetByClient:
        Segment(conversation, true, kTcpRst | kTcpAck, event.time);
        break;
      case CloseReason::kResetByServer:
        Segment(conversation, false, kTcpRst | kTcpAck, event.time);
        break;
      case CloseReason::kSendError:
      case CloseReason::kStopped:
        // The forwarder reset both sides.
        Segment(conversation, true, kTcpRst | kTcpAck, event.time);
        Segment(conversation, false, kTcpRst | kTcpAck, event.time);
        break;
    }
  }
  conversations_.erase(found);
}

void PcapngWriter::Flush() { WriteOut(); }

void PcapngWriter::WriteOut() {
  if (buffer_.empty()) return;
  if (status_.ok() && file_) {
    const int error = file_->WriteAll(buffer_.data(), buffer_.size());
    if (error == 0) {
      written_ += buffer_.size();
    } else {
      // A partial block would make the whole file unreadable to some
      // readers; a FIFO or pipe can't be cut back, and that is fine.
      file_->TruncateTo(written_);
      Fail(error == -ECANCELED
               ? Status::Error("write", error,
                               "given up at the stop: its reader did not take the rest in time")
               : Status::Error("write", error));
    }
  }
  buffer_.clear();
}

void PcapngWriter::Fail(const Status& status) {
  status_ = status;
  if (on_failure_) on_failure_(status_);
}

}  // namespace portwick
