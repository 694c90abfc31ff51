// The main window closed (Esc) over and over while sessions are blocked
// sending to a destination that never reads, with other sessions relaying
// beside them: each close ends the run within about a second, like Stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "main_window_fixture.h"
#include "stress_support.h"
#include "test_server.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

using namespace std::chrono_literals;
using stress::Client;
using stress::Destination;
using stress::Stream;

TEST_F(MainWindowTest, CloseWithBlockedSessionsEndsPromptlyEveryTime) {
  Destination never_reading(Destination::Behaviour::kNeverRead);
  Destination echo(Destination::Behaviour::kEcho);
  const int cycles = 5 * stress::SoakFactor();
  std::chrono::milliseconds slowest{0};
  uint64_t checked = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    // Two windows' worth of runs: one to a destination that never reads,
    // one relaying normally, each closed while its sessions are busy.
    for (const bool blocked : {true, false}) {
      Open(Forwarding(blocked ? never_reading.port() : echo.port()));
      ASSERT_TRUE(ClickStart());
      const int port = window_->listener().BoundPort();
      std::vector<std::thread> clients;
      std::atomic<int> echoed{0};
      for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&, i] {
          const Stream stream((uint64_t{900 + static_cast<uint64_t>(cycle)} << 32) |
                              static_cast<uint64_t>(i));
          Client client(port);
          if (blocked) {
            client.Send(stream, 0, size_t{64} << 20);  // until the close resets it
            return;
          }
          for (uint64_t at = 0;; at += 16384) {
            if (!client.Send(stream, at, 16384) || !client.ReceiveEcho(stream, at, 16384)) return;
            ++echoed;
          }
        });
      }
      // Busy: echoes coming back, or the clients stuck behind relays that
      // are stuck sending.
      if (blocked) {
        ASSERT_TRUE(testing::WaitUntil([] { return ThreadsBlockedInSend() >= 4; }));
      } else {
        ASSERT_TRUE(testing::WaitUntil([&] { return echoed >= 8; }));
      }
      const auto started = std::chrono::steady_clock::now();
      EXPECT_EQ(RunWith([&] { Command(kCommandCancel); }), kCommandCancel);
      window_.reset();
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - started);
      slowest = std::max(slowest, took);
      EXPECT_LT(took, 3s);
      // Every session ended with the run: the clients' calls return.
      for (std::thread& client : clients) client.join();
      checked += uint64_t{16384} * static_cast<uint64_t>(echoed.load());
    }
  }
  EXPECT_EQ(echo.Mismatches(), 0u);
  std::printf("stress: %d window closes with busy sessions, slowest %lld ms\n", 2 * cycles,
              static_cast<long long>(slowest.count()));
  stress::Figures::Add(8 * static_cast<uint64_t>(cycles), 2 * checked, 0);
}

}  // namespace
}  // namespace portwick
