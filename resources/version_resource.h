#ifndef PORTWICK_RESOURCES_VERSION_RESOURCE_H_
#define PORTWICK_RESOURCES_VERSION_RESOURCE_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace portwick {

// One language and code-page pair of a version block's translation list.
struct VersionTranslation {
  uint16_t language = 0;
  uint16_t code_page = 0;
};

// Orders paths without regard to ASCII case, so "\StringFileInfo\040904B0\X"
// finds the table stored as "040904b0".
struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// The version block compiled into the program: numeric versions, the
// translation list ("\VarFileInfo\Translation") and the string tables, keyed by
// their full path "\StringFileInfo\<language><code page>\<Key>".
//
// A plain value: build one in a test to stand for any other program's block.
struct VersionResource {
  std::array<uint16_t, 4> file_version{};
  std::array<uint16_t, 4> product_version{};
  std::vector<VersionTranslation> translations;
  std::map<std::string, std::string, CaseInsensitiveLess> strings;

  // Looks up a string by its full path, ignoring ASCII case. Returns false and
  // leaves *value alone when there is no such string.
  bool QueryString(std::string_view path, std::string* value) const;
};

// The program's own block, filled in at build time from the project version.
// Lives for the whole process; any thread may read it.
const VersionResource& ProgramVersionResource();

}  // namespace portwick

#endif  // PORTWICK_RESOURCES_VERSION_RESOURCE_H_
