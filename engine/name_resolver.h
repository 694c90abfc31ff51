#ifndef PORTWICK_ENGINE_NAME_RESOLVER_H_
#define PORTWICK_ENGINE_NAME_RESOLVER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/endpoint.h"
#include "base/status.h"

namespace portwick {

// Turns a destination host into the addresses a connector tries, in order;
// an interface so tests can hand out addresses of their choosing.
//
// Thread safety: called from many connector threads at once.
class NameResolver {
 public:
  virtual ~NameResolver() = default;

  // As sockets::Resolve: every address of `host` with `port`, or a failed
  // status with the step "resolve".
  virtual Status Resolve(const std::string& host, uint16_t port,
                         std::vector<Endpoint>* endpoints) = 0;

  // The system's resolver; lives for the whole process.
  static NameResolver& Default();
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_NAME_RESOLVER_H_
