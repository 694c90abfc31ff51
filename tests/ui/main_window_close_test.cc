// Closing the main window while a session is blocked sending to a
// destination that doesn't read: the program must end as Stop does.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/posix/socket_descriptor.h"
#include "main_window_fixture.h"
#include "test_server.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

using namespace std::chrono_literals;

TEST_F(MainWindowTest, CloseWithASessionBlockedInSendEndsLikeStop) {
  std::atomic<int> accepted_fd{-1};
  std::atomic<bool> destination_reset{false};
  // Accepts and never reads; ends when its connection is reset or shut down.
  testing::TestServer server([&](int fd) {
    accepted_fd = fd;
    pollfd hang_up{fd, POLLRDHUP, 0};
    while (poll(&hang_up, 1, -1) == 0 || (hang_up.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
    }
    destination_reset = (hang_up.revents & POLLERR) != 0;
  });
  Open(Forwarding(server.port()));
  ASSERT_TRUE(ClickStart());
  Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
  ASSERT_TRUE(client.valid());

  // The client sends until the relay towards the destination is stuck in
  // send and the client in turn is stuck behind it.
  std::thread sender([fd = Descriptor(client.fd())] {
    const std::string block(1 << 16, 'b');
    while (send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
    }
  });
  struct JoinSender {
    std::thread& sender;
    int fd;
    ~JoinSender() {
      shutdown(fd, SHUT_RDWR);
      sender.join();
    }
  } join_sender{sender, Descriptor(client.fd())};
  ASSERT_TRUE(testing::WaitUntil([] { return ThreadsBlockedInSend() >= 2; }));

  // Should the close hang, shutting the destination's side down after a
  // while lets it finish, so the test fails instead of hanging.
  std::atomic<bool> closed{false};
  std::thread watchdog([&] {
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (!closed && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(10ms);
    if (!closed) shutdown(accepted_fd, SHUT_RDWR);
  });

  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(RunWith([&] { Command(kCommandCancel); }), kCommandCancel);
  window_.reset();  // as start-up does once the loop has ended
  const auto took = std::chrono::steady_clock::now() - started;
  closed = true;
  watchdog.join();
  EXPECT_LT(took, 3s) << "closing took "
                      << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                      << " ms";
  // The session was reset, as Stop resets it (the client's blocked send may
  // take the reset, so its reads see just the end).
  EXPECT_TRUE(testing::WaitUntil([&] { return destination_reset.load(); }));
  const testing::StreamEnd client_end = testing::ReadUntilEnd(client.fd()).end;
  EXPECT_TRUE(client_end == testing::StreamEnd::kReset || client_end == testing::StreamEnd::kEof);
}

}  // namespace
}  // namespace portwick
