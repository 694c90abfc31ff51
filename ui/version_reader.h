#ifndef PORTWICK_UI_VERSION_READER_H_
#define PORTWICK_UI_VERSION_READER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "resources/version_resource.h"

namespace portwick {

// Where version blocks come from: the program itself, or a stand-in in tests.
class ResourceModule {
 public:
  virtual ~ResourceModule() = default;
  // The module's version block, or null when it has none. Each call is one
  // read of the resource.
  virtual const VersionResource* FindVersionResource() const = 0;
};

// The running program: on Windows its VERSIONINFO resource, read with
// VerQueryValue at each FindVersionResource() (ui/windows/program_module.cc);
// elsewhere the block compiled in, ProgramVersionResource()
// (ui/program_module.cc). Lives for the whole process; main thread only.
const ResourceModule& ProgramModule();

// Version values are copied into buffers of this many bytes, terminating zero
// included, so a value keeps at most kVersionBufferSize - 1 characters.
inline constexpr std::size_t kVersionBufferSize = 1024;

// Copies the string `key` of the module's version block into *buffer and
// returns *buffer. With exactly one translation pair the string is looked up
// in that pair's table; otherwise (no list, or several pairs) in the table
// "000004B0". *buffer is left as it was when there is no block or no such
// string; a longer value is cut to kVersionBufferSize - 1 characters.
const std::string& ReadVersionString(std::string* buffer, const ResourceModule& module,
                                     std::string_view key);

// Holds the normalised product version once it has been read.
// Not thread-safe: the main thread owns the process-wide instance.
class ProductVersionCache {
 public:
  ProductVersionCache() = default;
  ProductVersionCache(const ProductVersionCache&) = delete;
  ProductVersionCache& operator=(const ProductVersionCache&) = delete;

  // Returns the cached version; when there is none yet, reads "ProductVersion"
  // from `module`, drops every space and turns every ',' into '.'
  // ("1, 7, 0, 0" -> "1.7.0.0"). An empty result is not kept, so the next call
  // reads again.
  std::string Get(const ResourceModule& module);

 private:
  std::string cache_;
};

// The process-wide cache. Main thread only.
ProductVersionCache& ProcessProductVersionCache();

// ProcessProductVersionCache().Get(module). Main thread only.
std::string GetProductVersion(const ResourceModule& module);

}  // namespace portwick

#endif  // PORTWICK_UI_VERSION_READER_H_
