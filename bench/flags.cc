#include "bench/flags.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace portwick::bench {

bool Flags::Parse(int argc, char** argv, int first, std::string* error) {
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      *error = "unexpected argument \"" + arg + "\"";
      return false;
    }
    std::size_t equals = arg.find('=');
    std::string value = equals == std::string::npos ? std::string(1, '1') : arg.substr(equals + 1);
    values_.insert_or_assign(
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2),
        std::move(value));
  }
  return true;
}

std::string Flags::String(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

bool Flags::Number(const std::string& name, double fallback, double* value,
                   std::string* error) const {
  auto it = values_.find(name);
  if (it == values_.end()) {
    *value = fallback;
    return true;
  }
  char* tail = nullptr;
  *value = std::strtod(it->second.c_str(), &tail);
  if (it->second.empty() || *tail != '\0' || !std::isfinite(*value)) {
    *error = "--" + name + " needs a number, not \"" + it->second + "\"";
    return false;
  }
  return true;
}

}  // namespace portwick::bench
