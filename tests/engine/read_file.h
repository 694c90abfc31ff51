#ifndef PORTWICK_TESTS_ENGINE_READ_FILE_H_
#define PORTWICK_TESTS_ENGINE_READ_FILE_H_

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace portwick::testing {

// The whole content of a file, bytes unchanged; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_ENGINE_READ_FILE_H_
