#include "resources/version_resource.h"

#include <algorithm>

namespace portwick {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

bool VersionResource::QueryString(std::string_view path, std::string* value) const {
  auto it = strings.find(path);
  if (it == strings.end()) return false;
  *value = it->second;
  return true;
}

}  // namespace portwick
