#ifndef PORTWICK_TESTS_CAPTURE_TSHARK_READER_H_
#define PORTWICK_TESTS_CAPTURE_TSHARK_READER_H_

#include <string>

// Reads pcapng files back with Debian's tshark (a real dissector, not a
// parser of our own).
namespace portwick::testing {

// Runs a shell command; its standard output (standard error dropped), and
// its wait status in `status`.
std::string Shell(const std::string& command, int* status = nullptr);

bool HaveTshark();

// What tshark's "Follow TCP Stream" gives back for TCP stream `index` (in
// the order of their first packets): the bytes each node sent (node 0 sent
// the first packet, the SYN), and the two "ADDR:PORT" node texts.
struct FollowedStream {
  std::string node0;
  std::string node1;
  std::string from0;
  std::string from1;
};
FollowedStream FollowTcpStream(const std::string& file, int index);

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_CAPTURE_TSHARK_READER_H_
