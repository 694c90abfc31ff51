#include "resources/windows/module_version_resource.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

constexpr const char* kStringKeys[] = {
    "Comments",       "CompanyName",      "FileDescription", "FileVersion",    "InternalName",
    "LegalCopyright", "OriginalFilename", "ProductName",     "ProductVersion",
};

std::string TableName(VersionTranslation t) {
  char name[9];
  std::snprintf(name, sizeof(name), "%04X%04X", t.language, t.code_page);
  return name;
}

}  // namespace

std::optional<VersionResource> ReadModuleVersionResource(HMODULE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  if (found == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(module, found);
  const void* locked = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (locked == nullptr) return std::nullopt;
  // VerQueryValue wants a block it may write into (it converts texts there).
  const DWORD size = SizeofResource(module, found);
  std::vector<unsigned char> block(size);
  std::memcpy(block.data(), locked, size);

  VersionResource resource;
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    resource.file_version = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    resource.product_version = {
        HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
        HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
  }
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
    const auto* pairs = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      resource.translations.push_back(VersionTranslation{pairs[i], pairs[i + 1]});
    }
  }
  std::set<std::string> tables = {"000004B0", "040904B0"};
  for (VersionTranslation t : resource.translations) tables.insert(TableName(t));
  for (const std::string& table : tables) {
    for (const char* key : kStringKeys) {
      const std::string path = "\\StringFileInfo\\" + table + "\\" + key;
      if (VerQueryValueW(block.data(), Utf16FromUtf8(path).c_str(), &value, &length) &&
          length > 0) {
        // The length counts the terminating zero.
        resource.strings[path] = Utf8FromUtf16(static_cast<const wchar_t*>(value));
      }
    }
  }
  return resource;
}

}  // namespace portwick
