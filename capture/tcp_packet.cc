#include "capture/tcp_packet.h"

#include <array>
#include <cstring>

namespace portwick {

namespace {

constexpr size_t kIPv4HeaderSize = 20;
constexpr size_t kTcpHeaderSize = 20;
constexpr size_t kMaxIpPacket = 65535;
constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kHopLimit = 64;
constexpr uint16_t kWindow = 65535;

constexpr std::array<uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool IsMapped(const Endpoint& endpoint) {
  return endpoint.family() == Endpoint::Family::kIPv6 &&
         std::memcmp(endpoint.address_bytes(), kMappedPrefix.data(), kMappedPrefix.size()) == 0;
}

Endpoint WithAddress(const char* text, uint16_t port) {
  return Endpoint::ParseAddress(text, port).value_or(Endpoint());
}

void ToIPv4(Endpoint* endpoint) {
  const uint8_t* a = endpoint->address_bytes() + 12;
  const std::string text = std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                           std::to_string(a[2]) + "." + std::to_string(a[3]);
  *endpoint = WithAddress(text.c_str(), endpoint->port());
}

void ToMapped(Endpoint* endpoint) {
  *endpoint = WithAddress(("::ffff:" + endpoint->AddressText()).c_str(), endpoint->port());
}

void Put16(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value >> 16));
  Put16(out, static_cast<uint16_t>(value & 0xFFFF));
}

// The Internet checksum's one's complement sum, taken over little-endian
// 16-bit words eight bytes at a time: the sum of byte-swapped words is the
// byte-swapped sum, so the folded result is stored as it is (native order)
// and lands in the header in network order. A lone last byte is the high
// byte of its big-endian word, which is the low byte of the little-endian one.
uint64_t Sum(const uint8_t* data, size_t size, uint64_t sum = 0) {
  while (size >= 8) {
    uint64_t word;
    std::memcpy(&word, data, sizeof word);
    sum += (word & 0xFFFFFFFF) + (word >> 32);
    data += 8;
    size -= 8;
  }
  while (size >= 2) {
    uint16_t word;
    std::memcpy(&word, data, sizeof word);
    sum += word;
    data += 2;
    size -= 2;
  }
  if (size > 0) sum += data[0];
  return sum;
}

// A 16-bit value in network order as the little-endian sum sees it.
uint64_t SwappedWord(size_t value) { return ((value & 0xFF) << 8) | ((value >> 8) & 0xFF); }

void StoreChecksum(std::string& out, size_t at, uint64_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  const auto checksum = static_cast<uint16_t>(~sum & 0xFFFF);
  std::memcpy(out.data() + at, &checksum, sizeof checksum);
}

size_t AddressSize(const Endpoint& endpoint) {
  return endpoint.family() == Endpoint::Family::kIPv4 ? 4 : 16;
}

}  // namespace

size_t MaxTcpPayload(const Endpoint& from, const Endpoint& /*to*/) {
  return from.family() == Endpoint::Family::kIPv4 ? kMaxIpPacket - kIPv4HeaderSize - kTcpHeaderSize
                                                  : kMaxIpPacket - kTcpHeaderSize;
}

void MatchFamilies(Endpoint* a, Endpoint* b) {
  if (IsMapped(*a)) ToIPv4(a);
  if (IsMapped(*b)) ToIPv4(b);
  if (a->family() == b->family()) return;
  if (a->family() == Endpoint::Family::kIPv4) ToMapped(a);
  if (b->family() == Endpoint::Family::kIPv4) ToMapped(b);
}

void AppendTcpPacket(std::string& out, const TcpSegment& segment) {
  const bool ipv4 = segment.from.family() == Endpoint::Family::kIPv4;
  const size_t tcp_size = kTcpHeaderSize + segment.payload_size;
  const size_t address_size = AddressSize(segment.from);
  const size_t start = out.size();
  if (ipv4) {
    out += static_cast<char>(0x45);  // version 4, 5 words of header
    out += '\0';
    Put16(out, static_cast<uint16_t>(kIPv4HeaderSize + tcp_size));
    Put16(out, segment.ip_id);
    Put16(out, 0x4000);  // don't fragment
    out += static_cast<char>(kHopLimit);
    out += static_cast<char>(kProtocolTcp);
    Put16(out, 0);  // checksum, below
  } else {
    Put32(out, 0x60000000);  // version 6
    Put16(out, static_cast<uint16_t>(tcp_size));
    out += static_cast<char>(kProtocolTcp);
    out += static_cast<char>(kHopLimit);
  }
  out.append(reinterpret_cast<const char*>(segment.from.address_bytes()), address_size);
  out.append(reinterpret_cast<const char*>(segment.to.address_bytes()), address_size);
  if (ipv4) {
    const auto* header = reinterpret_cast<const uint8_t*>(out.data() + start);
    StoreChecksum(out, start + 10, Sum(header, kIPv4HeaderSize));
  }

  const size_t tcp_start = out.size();
  Put16(out, segment.from.port());
  Put16(out, segment.to.port());
  Put32(out, segment.sequence);
  Put32(out, segment.acknowledgement);
  out += static_cast<char>((kTcpHeaderSize / 4) << 4);
  out += static_cast<char>(segment.flags);
  Put16(out, kWindow);
  Put16(out, 0);  // checksum, below
  Put16(out, 0);  // urgent pointer
  if (segment.payload_size > 0) out.append(segment.payload, segment.payload_size);

  // The pseudo-header: both addresses, the protocol and the TCP length.
  uint64_t sum = Sum(segment.from.address_bytes(), address_size);
  sum = Sum(segment.to.address_bytes(), address_size, sum);
  sum += SwappedWord(kProtocolTcp) + SwappedWord(tcp_size);
  sum = Sum(reinterpret_cast<const uint8_t*>(out.data() + tcp_start), tcp_size, sum);
  StoreChecksum(out, tcp_start + 16, sum);
}

}  // namespace portwick
