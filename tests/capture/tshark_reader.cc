#include "tshark_reader.h"

#include <cstdio>

namespace portwick::testing {

std::string Shell(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(("(" + command + ") 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int result = pclose(pipe);
  if (status != nullptr) *status = result;
  return out;
}

bool HaveTshark() {
  int status = -1;
  Shell("tshark --version", &status);
  return status == 0;
}

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

}  // namespace

FollowedStream FollowTcpStream(const std::string& file, int index) {
  const std::string out =
      Shell("tshark -r '" + file + "' -q -z follow,tcp,raw," + std::to_string(index));
  FollowedStream followed;
  size_t at = 0;
  bool in_data = false;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    if (line.starts_with("Node 0: ")) {
      followed.node0 = line.substr(8);
    } else if (line.starts_with("Node 1: ")) {
      followed.node1 = line.substr(8);
      in_data = true;
    } else if (line.starts_with("=====")) {
      in_data = false;
    } else if (in_data && line.starts_with("\t")) {
      followed.from1 += FromHex(line.substr(1));
    } else if (in_data && !line.empty()) {
      followed.from0 += FromHex(line);
    }
  }
  return followed;
}

}  // namespace portwick::testing
