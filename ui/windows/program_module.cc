// The running program's version block on Windows: its VERSIONINFO resource,
// read with VerQueryValue each time the About box asks.
#include <windows.h>

#include <optional>

#include "resources/windows/module_version_resource.h"
#include "ui/version_reader.h"

namespace portwick {

namespace {

class ProgramResourceModule : public ResourceModule {
 public:
  const VersionResource* FindVersionResource() const override {
    read_ = ReadModuleVersionResource(GetModuleHandleW(nullptr));
    return read_ ? &*read_ : nullptr;
  }

 private:
  // The last read; the pointer handed out stays valid until the next one.
  mutable std::optional<VersionResource> read_;
};

}  // namespace

const ResourceModule& ProgramModule() {
  static const ProgramResourceModule kModule;
  return kModule;
}

}  // namespace portwick
