#include "engine/name_resolver.h"

#include "base/no_destructor.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

class SystemResolver final : public NameResolver {
 public:
  Status Resolve(const std::string& host, uint16_t port,
                 std::vector<Endpoint>* endpoints) override {
    return sockets::Resolve(host, port, endpoints);
  }
};

}  // namespace

NameResolver& NameResolver::Default() {
  static NoDestructor<SystemResolver> resolver;
  return *resolver.get();
}

}  // namespace portwick
