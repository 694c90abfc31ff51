// The running program's version block as compiled in (resources/).
#include "ui/version_reader.h"

namespace portwick {

namespace {

class ProgramResourceModule : public ResourceModule {
 public:
  const VersionResource* FindVersionResource() const override { return &ProgramVersionResource(); }
};

}  // namespace

const ResourceModule& ProgramModule() {
  static const ProgramResourceModule kModule;
  return kModule;
}

}  // namespace portwick
