#ifndef PORTWICK_CAPTURE_TCP_PACKET_H_
#define PORTWICK_CAPTURE_TCP_PACKET_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/endpoint.h"

namespace portwick {

// TCP flags as they sit in the header.
inline constexpr uint8_t kTcpFin = 0x01;
inline constexpr uint8_t kTcpSyn = 0x02;
inline constexpr uint8_t kTcpRst = 0x04;
inline constexpr uint8_t kTcpPsh = 0x08;
inline constexpr uint8_t kTcpAck = 0x10;

// One TCP segment of a synthetic conversation.
struct TcpSegment {
  Endpoint from;
  Endpoint to;
  uint32_t sequence = 0;
  uint32_t acknowledgement = 0;
  uint8_t flags = 0;
  uint16_t ip_id = 0;  // IPv4 identification
  const char* payload = nullptr;
  size_t payload_size = 0;
};

// The largest payload one IP packet carries between `from` and `to` (IPv4:
// 65535 - 20 - 20; IPv6: 65535 - 20, its own header not counted).
size_t MaxTcpPayload(const Endpoint& from, const Endpoint& to);

// Brings two endpoints to one address family, as one packet needs: an
// IPv4-mapped IPv6 address (::ffff:a.b.c.d) becomes IPv4, and when one is
// IPv4 and the other IPv6 the IPv4 one becomes IPv4-mapped IPv6.
void MatchFamilies(Endpoint* a, Endpoint* b);

// Appends the raw IP packet (IPv4 or IPv6 header, TCP header, payload), with
// correct lengths and checksums. Both endpoints must be of one family, and
// the payload at most MaxTcpPayload.
void AppendTcpPacket(std::string& out, const TcpSegment& segment);

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_TCP_PACKET_H_
