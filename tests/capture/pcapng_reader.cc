#include "pcapng_reader.h"

namespace portwick::testing {

namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterface = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kLinkTypeRaw = 101;
constexpr uint8_t kTcp = 6;

uint32_t Little32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

uint16_t Big16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                               static_cast<uint8_t>(bytes[at + 1]));
}

// The TCP segment in one raw IP packet; false when it holds none.
bool Segment(std::string_view packet, TcpSegment* segment, std::string* error) {
  if (packet.empty()) return false;
  const int version = static_cast<uint8_t>(packet[0]) >> 4;
  size_t header = 0;
  size_t total = 0;
  uint8_t protocol = 0;
  if (version == 4 && packet.size() >= 20) {
    header = (static_cast<uint8_t>(packet[0]) & 0x0f) * 4u;
    total = Big16(packet, 2);
    protocol = static_cast<uint8_t>(packet[9]);
  } else if (version == 6 && packet.size() >= 40) {
    header = 40;
    total = 40u + Big16(packet, 4);
    protocol = static_cast<uint8_t>(packet[6]);
  } else {
    *error = "not an IPv4 or IPv6 packet";
    return false;
  }
  if (protocol != kTcp) return false;
  if (total > packet.size() || header + 20 > total) {
    *error = "a packet shorter than its headers say";
    return false;
  }
  const std::string_view tcp = packet.substr(header, total - header);
  const size_t tcp_header = (static_cast<uint8_t>(tcp[12]) >> 4) * 4u;
  if (tcp_header < 20 || tcp_header > tcp.size()) {
    *error = "a TCP header of a wrong length";
    return false;
  }
  segment->from_port = Big16(tcp, 0);
  segment->to_port = Big16(tcp, 2);
  segment->flags = static_cast<uint8_t>(tcp[13]);
  segment->payload = std::string(tcp.substr(tcp_header));
  return true;
}

}  // namespace

std::optional<std::vector<TcpSegment>> ReadTcpSegments(std::string_view file, std::string* error) {
  std::vector<TcpSegment> segments;
  bool raw_ip = false;
  for (size_t at = 0; at < file.size();) {
    if (file.size() - at < 12) {
      *error = "a torn block at " + std::to_string(at);
      return std::nullopt;
    }
    const uint32_t type = Little32(file, at);
    const uint32_t length = Little32(file, at + 4);
    if (length < 12 || length % 4 != 0 || length > file.size() - at ||
        Little32(file, at + length - 4) != length) {
      *error = "a block of a wrong length at " + std::to_string(at);
      return std::nullopt;
    }
    const std::string_view body = file.substr(at + 8, length - 12);
    if (type == kSectionHeader && (body.size() < 4 || Little32(body, 0) != kByteOrderMagic)) {
      *error = "a section header without the byte-order magic";
      return std::nullopt;
    }
    if (at == 0 && type != kSectionHeader) {
      *error = "no section header first";
      return std::nullopt;
    }
    if (type == kInterface)
      raw_ip = body.size() >= 4 && (Little32(body, 0) & 0xffff) == kLinkTypeRaw;
    if (type == kEnhancedPacket) {
      if (!raw_ip || body.size() < 20 || Little32(body, 12) > body.size() - 20) {
        *error = "a packet block before a raw IP interface, or too short";
        return std::nullopt;
      }
      TcpSegment segment;
      if (Segment(body.substr(20, Little32(body, 12)), &segment, error)) {
        segments.push_back(std::move(segment));
      } else if (!error->empty()) {
        return std::nullopt;
      }
    }
    at += length;
  }
  return segments;
}

}  // namespace portwick::testing
