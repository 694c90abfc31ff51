#ifndef PORTWICK_TESTS_CAPTURE_PCAPNG_READER_H_
#define PORTWICK_TESTS_CAPTURE_PCAPNG_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads the TCP segments back from a pcapng file of raw IPv4 or IPv6
// packets, for where tshark is not at hand (under Wine). Written from the
// file format alone: little-endian sections, enhanced packet blocks, IP
// headers without options or extension headers.
namespace portwick::testing {

struct TcpSegment {
  uint16_t from_port = 0;
  uint16_t to_port = 0;
  uint8_t flags = 0;  // FIN 0x01, SYN 0x02, RST 0x04, ACK 0x10
  std::string payload;
};

// Every segment in file order; nothing (with what did not parse in
// `*error`) when the file is not such a capture.
std::optional<std::vector<TcpSegment>> ReadTcpSegments(std::string_view file, std::string* error);

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_CAPTURE_PCAPNG_READER_H_
