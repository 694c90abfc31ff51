#ifndef PORTWICK_BENCH_FLAGS_H_
#define PORTWICK_BENCH_FLAGS_H_

#include <map>
#include <string>

namespace portwick::bench {

// "--name=value" and "--name" (value "1") arguments of the load tools.
class Flags {
 public:
  // Reads argv[first..argc). False, with the offending argument in `error`,
  // for an argument not of that form.
  bool Parse(int argc, char** argv, int first, std::string* error);

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::string String(const std::string& name, const std::string& fallback) const;
  // `fallback` when absent; false (with `error`) when not a number.
  bool Number(const std::string& name, double fallback, double* value, std::string* error) const;

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_FLAGS_H_
