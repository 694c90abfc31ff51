// The session connector: which thread relays what, and what happens when a
// thread can't be started (the session's connections are closed or reset,
// and nothing stays open).

#include "engine/session_connector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "engine/detached_thread.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "test_server.h"

namespace portwick {
namespace {

using testing::ReadResult;
using testing::ReadUntilEnd;
using testing::StreamEnd;

// Starts real threads, except that thread start number `fail_at` (from 1)
// fails as if the system had no resources left.
class FailingStarter : public ThreadStarter {
 public:
  explicit FailingStarter(int fail_at) : fail_at_(fail_at) {}
  bool Start(std::unique_ptr<ThreadTask> task, size_t stack_size) override {
    if (++starts_ == fail_at_) return false;
    return ThreadStarter::Default().Start(std::move(task), stack_size);
  }

 private:
  const int fail_at_;
  std::atomic<int> starts_{0};
};

class SessionConnectorTest : public ::testing::Test {
 protected:
  SessionConnectorTest() { layer_->Startup(); }
  ~SessionConnectorTest() override { layer_->Cleanup(); }

  // A request for the far end of a fresh client connection towards the
  // test server; the near end stays with the test as the client.
  std::unique_ptr<SessionRequest> MakeRequest(Socket* client, ThreadStarter* starter) {
    testing::TcpPair pair = testing::MakeTcpPair();
    *client = std::move(pair.near);
    auto request = std::make_unique<SessionRequest>();
    request->accepted_socket = std::move(pair.far);
    request->destination_host = "127.0.0.1";
    request->destination_port = static_cast<uint16_t>(server_.port());
    request->threads = starter;
    request->layer = layer_;
    return request;
  }

  const std::shared_ptr<SocketLayer> layer_ = std::make_shared<SocketLayer>();
  testing::TestServer server_;
};

TEST_F(SessionConnectorTest, FailedRelayThreadStartResetsBothConnections) {
  FailingStarter starter(1);
  Socket client;
  RunSessionConnector(MakeRequest(&client, &starter));
  Socket destination = server_.WaitAccept();
  ASSERT_TRUE(destination.valid());
  EXPECT_EQ(ReadUntilEnd(client.fd()).end, StreamEnd::kReset);
  EXPECT_EQ(ReadUntilEnd(destination.fd()).end, StreamEnd::kReset);
  EXPECT_TRUE(testing::WaitUntil([this] { return layer_->registrations() == 0; }));
}

TEST_F(SessionConnectorTest, ConnectorRelaysTheClientDirectionOnItsOwnThread) {
  FailingStarter starter(0);  // never fails
  Socket client;
  std::unique_ptr<SessionRequest> request = MakeRequest(&client, &starter);
  std::thread connector([&request] { RunSessionConnector(std::move(request)); });
  Socket destination = server_.WaitAccept();
  ASSERT_TRUE(destination.valid());
  ASSERT_EQ(testing::SendAndRead(client.fd(), destination.fd(), "up"), "up");
  ASSERT_EQ(testing::SendAndRead(destination.fd(), client.fd(), "down"), "down");
  // The client's end of stream ends the connector's own pump.
  sockets::ShutdownWrite(client.fd());
  connector.join();
  EXPECT_EQ(ReadUntilEnd(destination.fd()).end, StreamEnd::kEof);
}

TEST_F(SessionConnectorTest, FailedConnectorThreadStartClosesTheClient) {
  FailingStarter starter(1);
  Socket client;
  EXPECT_FALSE(StartSessionConnector(MakeRequest(&client, &starter)));
  ReadResult result = ReadUntilEnd(client.fd());
  EXPECT_EQ(result.end, StreamEnd::kEof);
  EXPECT_EQ(server_.accepted(), 0);
}

TEST_F(SessionConnectorTest, BytesSentBeforeTheSessionRunsAreRelayed) {
  Socket client;
  std::unique_ptr<SessionRequest> request = MakeRequest(&client, &ThreadStarter::Default());
  ASSERT_TRUE(testing::SendBytes(client.fd(), "early"));
  ASSERT_TRUE(StartSessionConnector(std::move(request)));
  Socket destination = server_.WaitAccept();
  ASSERT_TRUE(destination.valid());
  EXPECT_EQ(testing::ReadExactly(destination.fd(), 5).data, "early");
}

TEST_F(SessionConnectorTest, ConnectorStartedAfterTheLastCleanupFailsAtOnce) {
  layer_->Cleanup();
  Socket client;
  RunSessionConnector(MakeRequest(&client, &ThreadStarter::Default()));
  EXPECT_EQ(ReadUntilEnd(client.fd()).end, StreamEnd::kEof);
  EXPECT_EQ(server_.accepted(), 0);
  layer_->Startup();  // balances the fixture's Cleanup
}

}  // namespace
}  // namespace portwick
