#ifndef PORTWICK_TESTS_ENGINE_LISTENER_SEAMS_H_
#define PORTWICK_TESTS_ENGINE_LISTENER_SEAMS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/name_resolver.h"
#include "engine/proxy_listener.h"
#include "engine/socket_io.h"

// What listener tests set up the same way: the real socket calls to derive
// a scripted SocketIo from, a resolver with chosen addresses, and a
// loopback forward.
namespace portwick::testing {

// The real receive and send (and, as SocketIo has them, accept and a
// refused splice); a test overrides the calls it scripts. Any thread.
class PassThroughIo : public SocketIo {
 public:
  ssize_t Recv(SocketHandle fd, char* buffer, size_t length) override {
    return SocketIo::Default().Recv(fd, buffer, length);
  }
  ssize_t Send(SocketHandle fd, const char* data, size_t length) override {
    return SocketIo::Default().Send(fd, data, length);
  }
};

// The real calls, splice too.
class SplicingIo : public PassThroughIo {
 public:
  ssize_t Splice(int from, int to, size_t length) override {
    return SocketIo::Default().Splice(from, to, length);
  }
};

// Hands out a fixed list of addresses, whatever the name.
class ScriptedResolver : public NameResolver {
 public:
  explicit ScriptedResolver(std::vector<Endpoint> endpoints) : endpoints_(std::move(endpoints)) {}
  Status Resolve(const std::string&, uint16_t, std::vector<Endpoint>* endpoints) override {
    *endpoints = endpoints_;
    return Status();
  }

 private:
  const std::vector<Endpoint> endpoints_;
};

// Listens on 127.0.0.1 at a port the system chooses and forwards to
// 127.0.0.1:`port` through `io`.
inline ListenerConfig LoopbackForward(int port, SocketIo* io = &SocketIo::Default()) {
  ListenerConfig config;
  config.bind = Endpoint::LoopbackIPv4(0);
  config.destination_host = "127.0.0.1";
  config.destination_port = static_cast<uint16_t>(port);
  config.io = io;
  return config;
}

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_ENGINE_LISTENER_SEAMS_H_
