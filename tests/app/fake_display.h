#ifndef PORTWICK_TESTS_APP_FAKE_DISPLAY_H_
#define PORTWICK_TESTS_APP_FAKE_DISPLAY_H_

#include <string>

namespace portwick::testing {

// A listening socket where a display server would listen, so that a display
// check finds "a server" there (it never answers). Kinds:
//   kLocalX:  the abstract socket of local X display ":<number>";
//   kTcpX:    127.0.0.1 port 6000 + <number>, display "127.0.0.1:<number>";
//   kWayland: a socket file in a fresh folder, named by its absolute path.
// With `listening` false the name is free (a server there was closed again),
// so connecting to it fails. The destructor closes everything.
class FakeDisplay {
 public:
  enum class Kind { kLocalX, kTcpX, kWayland };

  FakeDisplay(Kind kind, bool listening);
  FakeDisplay(const FakeDisplay&) = delete;
  FakeDisplay& operator=(const FakeDisplay&) = delete;
  ~FakeDisplay();

  // The value for DISPLAY or WAYLAND_DISPLAY; empty when none could be made.
  const std::string& name() const { return name_; }

 private:
  int fd_ = -1;
  std::string name_;
  std::string folder_;  // kWayland only
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_APP_FAKE_DISPLAY_H_
