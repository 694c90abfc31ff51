#include "bench/results.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace portwick::bench {

bool Results::Parse(std::string_view text, std::string* error) {
  std::istringstream lines{std::string(text)};
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    std::istringstream fields(line);
    std::string metric, target, value, extra;
    if (!(fields >> metric) || metric[0] == '#') continue;  // blank or comment
    char* tail = nullptr;
    double parsed = 0;
    bool ok = static_cast<bool>(fields >> target >> value) && !(fields >> extra);
    if (ok) {
      parsed = std::strtod(value.c_str(), &tail);
      ok = *tail == '\0' && std::isfinite(parsed);
    }
    if (!ok) {
      if (error != nullptr) *error = "line " + std::to_string(number) + ": \"" + line + "\"";
      return false;
    }
    Add(metric, target, parsed);
  }
  return true;
}

void Results::Add(const std::string& metric, const std::string& target, double value) {
  values_[{metric, target}].push_back(value);
}

bool Results::Has(const std::string& metric, const std::string& target) const {
  return values_.count({metric, target}) != 0;
}

Summary Results::Get(const std::string& metric, const std::string& target) const {
  auto it = values_.find({metric, target});
  return it == values_.end() ? Summary{} : Summarize(it->second);
}

}  // namespace portwick::bench
