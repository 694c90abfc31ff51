#include "ui/version_reader.h"

#include <cstdio>

namespace portwick {

namespace {

// "\StringFileInfo\LLLLCCCC\key" with upper-case hex, as the table paths are
// spelled when looked up.
std::string StringPath(VersionTranslation translation, std::string_view key) {
  char table[9];
  std::snprintf(table, sizeof(table), "%04X%04X", translation.language, translation.code_page);
  std::string path = "\\StringFileInfo\\";
  path += table;
  path += '\\';
  path += key;
  return path;
}

}  // namespace

const std::string& ReadVersionString(std::string* buffer, const ResourceModule& module,
                                     std::string_view key) {
  const VersionResource* resource = module.FindVersionResource();
  if (resource == nullptr) return *buffer;

  // One pair names its own table; anything else falls back to language 0
  // with the Unicode code page.
  VersionTranslation translation{0x0000, 0x04B0};
  if (resource->translations.size() == 1) translation = resource->translations.front();

  std::string value;
  if (resource->QueryString(StringPath(translation, key), &value)) {
    if (value.size() > kVersionBufferSize - 1) value.resize(kVersionBufferSize - 1);
    *buffer = std::move(value);
  }
  return *buffer;
}

std::string ProductVersionCache::Get(const ResourceModule& module) {
  if (!cache_.empty()) return cache_;
  std::string raw;
  ReadVersionString(&raw, module, "ProductVersion");
  std::string normalised;
  normalised.reserve(raw.size());
  for (char c : raw) {
    if (c == ' ') continue;
    normalised += (c == ',') ? '.' : c;
  }
  cache_ = std::move(normalised);
  return cache_;
}

ProductVersionCache& ProcessProductVersionCache() {
  static ProductVersionCache cache;
  return cache;
}

std::string GetProductVersion(const ResourceModule& module) {
  return ProcessProductVersionCache().Get(module);
}

}  // namespace portwick
