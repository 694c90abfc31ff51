// The fault suite: the real program under load and attack, loopback only.
// Every case checks the bytes end to end (what the clients sent, what the
// destination got, what the log holds) and adds its figures to the ones
// printed at the end. PORTWICK_STRESS_SOAK=N runs it N times as long.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/posix/socket_descriptor.h"
#include "stress_support.h"

namespace portwick::stress {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Behaviour = Destination::Behaviour;

// A folder of its own for the log files, removed at the end.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/portwick-stress.XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "/tmp";
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs `sessions` clients at once, each on a thread of its own.
template <typename Body>
void RunClients(int sessions, Body body) {
  std::vector<std::thread> threads;
  for (int i = 0; i < sessions; ++i) threads.emplace_back([&body, i] { body(i); });
  for (std::thread& thread : threads) thread.join();
}

// Stream ids of one case: distinct per case and per session.
uint64_t IdOf(uint64_t test, int session) { return (test << 32) | static_cast<uint32_t>(session); }

// `sessions` clients of `port` at once: client i sends `bytes` of stream
// IdOf(test, i) in pieces of `piece` (so that neither side's buffers fill
// up) and checks each piece's echo. How many clients failed.
int EchoSessions(int port, uint64_t test, int sessions, size_t bytes, size_t piece) {
  std::atomic<int> failures{0};
  RunClients(sessions, [&](int i) {
    const Stream stream(IdOf(test, i));
    Client client(port);
    for (size_t at = 0; at < bytes; at += piece) {
      if (!client.Send(stream, at, piece) || !client.ReceiveEcho(stream, at, piece)) {
        ++failures;
        return;
      }
    }
  });
  return failures.load();
}

// The log must hold exactly what was relayed: for each session its stream
// as far as the destination got it (up) and the replies (down), nothing else.
// `abandoned` streams (id -> bytes sent) are clients that gave up and reset:
// what they had sent may still be accepted and relayed, but it is logged
// whole or not at all, and so is its reply.
void ExpectLogHolds(const std::string& log, const std::vector<uint64_t>& ids,
                    const std::map<uint64_t, uint64_t>& up,
                    const std::map<uint64_t, uint64_t>& down, bool up_may_exceed = false,
                    const std::map<uint64_t, uint64_t>& abandoned = {}) {
  std::vector<uint64_t> all_ids = ids;
  for (const auto& [id, sent] : abandoned) all_ids.push_back(id);
  const LogCheck check = CheckLog(log, all_ids);
  EXPECT_EQ(check.bytes_unexplained, 0u);
  const auto logged = [](const std::map<uint64_t, uint64_t>& bytes, uint64_t id) -> uint64_t {
    return bytes.count(id) ? bytes.at(id) : 0;
  };
  uint64_t lost = 0;
  for (uint64_t id : ids) {
    const uint64_t sent_up = logged(up, id);
    const uint64_t logged_up = logged(check.up_logged, id);
    if (up_may_exceed) {
      // A record is logged before it is sent: a stop may leave it logged but
      // never delivered, never the other way round.
      EXPECT_GE(logged_up, sent_up) << "stream " << id;
    } else {
      EXPECT_EQ(logged_up, sent_up) << "stream " << id;
    }
    lost += logged_up < sent_up ? sent_up - logged_up : 0;
    const uint64_t sent_down = logged(down, id);
    const uint64_t logged_down = logged(check.down_logged, id);
    EXPECT_EQ(logged_down, sent_down) << "reply stream " << id;
    lost += logged_down < sent_down ? sent_down - logged_down : 0;
  }
  for (const auto& [id, sent] : abandoned) {
    const uint64_t logged_up = logged(check.up_logged, id);
    const uint64_t logged_down = logged(check.down_logged, id);
    EXPECT_TRUE(logged_up == 0 || logged_up == sent)
        << "abandoned stream " << id << ": " << logged_up << " of " << sent << " bytes logged";
    EXPECT_TRUE(logged_down == 0 || logged_down == logged_up)
        << "reply to abandoned stream " << id << ": " << logged_down << " of " << logged_up;
  }
  Figures::Add(ids.size(), check.bytes_explained, lost + check.bytes_unexplained);
}

class ByteExactTest : public ::testing::TestWithParam<bool> {};

// Many sessions at once, each with its own binary stream echoed back: every
// byte arrives unchanged in both directions and lies in the log once, in
// order, whatever the sessions' records interleave.
TEST_P(ByteExactTest, ConcurrentBinarySessionsThroughRelayAndLog) {
  const bool synchronously = GetParam();
  Scratch scratch;
  const std::string log = scratch.File("traffic.log");
  Destination destination(Behaviour::kEcho);
  std::vector<std::string> args = {"--output=off", "--filename=" + log};
  if (synchronously) args.push_back("--synch");
  Portwick portwick(destination.Address(), {args});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();

  const int kSessions = 48;
  const size_t kBytes = size_t{512} << 10;
  const int rounds = SoakFactor();
  std::vector<uint64_t> ids;
  std::map<uint64_t, uint64_t> expected;
  for (int round = 0; round < rounds; ++round) {
    EXPECT_EQ(EchoSessions(portwick.port(), 100 + round, kSessions, kBytes, 32 << 10), 0);
    for (int i = 0; i < kSessions; ++i) {
      ids.push_back(IdOf(100 + round, i));
      expected[ids.back()] = kBytes;
    }
  }
  EXPECT_EQ(destination.Mismatches(), 0u);
  EXPECT_EQ(portwick.Stop(SIGTERM), 0) << portwick.StandardError();
  ExpectLogHolds(ReadFile(log), ids, expected, expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, ByteExactTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Synchronous" : "Queued"; });

// Bursts of simultaneous connects: every one is served, promptly, and
// logged.
TEST(StressTest, BurstsOfConnectsAreAllServed) {
  Scratch scratch;
  const std::string log = scratch.File("traffic.log");
  Destination destination(Behaviour::kEcho);
  Portwick portwick(destination.Address(), {{"--output=off", "--filename=" + log}});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();
  const int kBurst = 200;
  const int bursts = 3 * SoakFactor();
  std::vector<uint64_t> ids;
  std::map<uint64_t, uint64_t> expected;
  std::atomic<long long> slowest_ms{0};
  for (int burst = 0; burst < bursts; ++burst) {
    std::atomic<int> failures{0};
    RunClients(kBurst, [&](int i) {
      const Stream stream(IdOf(200 + burst, i));
      const auto started = std::chrono::steady_clock::now();
      Client client(portwick.port());
      if (!client.connected() || !client.Send(stream, 0, 64) ||
          !client.ReceiveEcho(stream, 0, 64, 20s)) {
        ++failures;
        return;
      }
      const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - started)
                               .count();
      long long seen = slowest_ms.load();
      while (ms > seen && !slowest_ms.compare_exchange_weak(seen, ms)) {
      }
    });
    EXPECT_EQ(failures, 0) << "burst " << burst;
    for (int i = 0; i < kBurst; ++i) {
      ids.push_back(IdOf(200 + burst, i));
      expected[ids.back()] = 64;
    }
  }
  std::printf("stress: slowest of %d bursts of %d connects: %lld ms\n", bursts, kBurst,
              slowest_ms.load());
  EXPECT_EQ(portwick.Stop(SIGTERM), 0) << portwick.StandardError();
  ExpectLogHolds(ReadFile(log), ids, expected, expected);
}

// With the descriptor limit reached, sessions that are relayed are logged
// whole (the log keeps its descriptor). A connection beyond the limit waits
// in the listen queue, or is accepted and closed when no socket to the
// destination can be had; which of the two depends on whether a descriptor
// is left over, so two limits of different parity are tried. A client that
// gives up resets; the bytes it had sent may still be accepted and relayed
// later, but only whole. Clients that try again once descriptors are free
// are served.
TEST(StressTest, DescriptorExhaustionWithLoggingLosesNothing) {
  for (const int limit : {64, 65}) {
    SCOPED_TRACE("descriptor limit " + std::to_string(limit));
    Scratch scratch;
    const std::string log = scratch.File("traffic.log");
    Destination destination(Behaviour::kEcho);
    Portwick portwick(destination.Address(), {{"--output=off", "--filename=" + log}, limit});
    ASSERT_TRUE(portwick.started()) << portwick.StandardError();

    // Far more sessions than the limit holds (each takes two descriptors).
    const int kSessions = 60;
    const size_t kBytes = 4096;
    enum Outcome : char { kNotTried, kServed, kGaveUp, kSendFailed };
    std::vector<Client> clients(kSessions);
    std::vector<char> served(kSessions, 0);
    std::vector<uint64_t> ids;
    std::map<uint64_t, uint64_t> expected;
    std::map<uint64_t, uint64_t> abandoned;
    for (int round = 0; round < 2; ++round) {
      // Each attempt sends a stream of its own: a first attempt given up may
      // still be relayed beside the second.
      const auto id_of = [round](int i) { return IdOf(300 + static_cast<uint64_t>(round), i); };
      std::vector<char> outcome(kSessions, kNotTried);
      RunClients(kSessions, [&](int i) {
        const auto at = static_cast<size_t>(i);
        if (served[at]) return;
        const Stream stream(id_of(i));
        Client& client = clients[at];
        client = Client(portwick.port());
        if (!client.connected()) return;
        // Give up after a while on connections that wait in the listen queue,
        // not on the ones relayed.
        if (!client.Send(stream, 0, kBytes)) {
          outcome[at] = kSendFailed;
        } else {
          outcome[at] = client.ReceiveEcho(stream, 0, kBytes, 3s) ? kServed : kGaveUp;
        }
        if (outcome[at] != kServed) client.Reset();
      });
      int newly_served = 0;
      for (int i = 0; i < kSessions; ++i) {
        const auto at = static_cast<size_t>(i);
        if (outcome[at] == kServed) {
          served[at] = 1;
          ++newly_served;
          ids.push_back(id_of(i));
          expected[id_of(i)] = kBytes;
        } else if (outcome[at] != kNotTried) {
          abandoned[id_of(i)] = outcome[at] == kGaveUp ? kBytes : 0;
        }
      }
      if (round == 0) {
        EXPECT_GT(newly_served, 0);
        EXPECT_LT(newly_served, kSessions) << "the limit was never reached";
        // Frees the descriptors of the sessions served so far.
        for (Client& client : clients) client.Close();
      } else {
        EXPECT_GT(newly_served, 0) << "nothing served once descriptors were free";
      }
    }
    for (Client& client : clients) client.Close();
    EXPECT_EQ(portwick.Stop(SIGTERM), 0) << portwick.StandardError();
    EXPECT_EQ(portwick.StandardError().find("cannot write"), std::string::npos)
        << portwick.StandardError();
    ExpectLogHolds(ReadFile(log), ids, expected, expected, /*up_may_exceed=*/false, abandoned);
  }
}

// Idle clients beyond the descriptor limit wait in the listen queue; none is
// accepted and then reset. They are served in waves: the clients whose bytes
// reached the destination get their echo and close, making room.
TEST(StressTest, IdleClientsBeyondTheDescriptorLimitWaitAndAreServedInTurn) {
  Destination destination(Behaviour::kEcho);
  Portwick portwick(destination.Address(), {{"--output=off"}, 64});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();
  const int kClients = 90;  // two descriptors a session: three times more than fit
  std::vector<Client> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back(portwick.port());
    ASSERT_TRUE(clients.back().Send(Stream(IdOf(700, i)), 0, 16)) << "client " << i;
  }
  int served = 0;
  int waves = 0;
  for (; served < kClients; ++waves) {
    int wave = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (wave == 0 && std::chrono::steady_clock::now() < deadline) {
      for (const auto& [id, bytes] : destination.Received()) {
        Client& client = clients[static_cast<size_t>(id & 0xffffffff)];
        if (bytes != 16 || !client.connected()) continue;
        EXPECT_TRUE(client.ReceiveEcho(Stream(id), 0, 16)) << "stream " << id;
        client.Close();
        ++wave;
      }
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(wave, 0) << served << " of " << kClients << " served, no more reach the destination";
    served += wave;
  }
  EXPECT_GT(waves, 1) << "the limit was never reached";
  EXPECT_EQ(portwick.Stop(SIGTERM), 0) << portwick.StandardError();
  const std::string said = portwick.StandardError();
  const size_t first = said.find("open descriptors is reached");
  EXPECT_NE(first, std::string::npos) << said;
  EXPECT_EQ(said.find("open descriptors is reached", first + 1), std::string::npos) << said;
  Figures::Add(kClients, kClients * 32, 0);
}

// Peers that refuse, reset, never read or dribble one byte at a time: the
// sessions beside them stay byte-exact and the program goes on serving.
TEST(StressTest, MisbehavingPeersLeaveTheOtherSessionsAlone) {
  Scratch scratch;
  const std::string log = scratch.File("traffic.log");
  const std::string dribble_log = scratch.File("dribble.log");
  Destination echo(Behaviour::kEcho);
  Destination counting(Behaviour::kDiscard);
  Destination resetting(Behaviour::kResetAfter, 100000);
  Destination never_reading(Behaviour::kNeverRead);
  int refusing_port = 0;
  {
    Destination gone(Behaviour::kDiscard);
    refusing_port = gone.port();
  }
  Portwick to_echo(echo.Address(), {{"--output=off", "--filename=" + log}});
  Portwick to_counting(counting.Address(), {{"--output=off", "--filename=" + dribble_log}});
  Portwick to_reset(resetting.Address(), {{"--output=off"}});
  Portwick to_never(never_reading.Address(), {{"--output=off"}});
  Portwick to_refusing("127.0.0.1:" + std::to_string(refusing_port), {{"--output=off"}});
  for (Portwick* portwick : {&to_echo, &to_counting, &to_reset, &to_never, &to_refusing}) {
    ASSERT_TRUE(portwick->started()) << portwick->StandardError();
  }

  const int kEach = 8 * SoakFactor();
  constexpr uint64_t kDribbled = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  std::vector<uint64_t> ids;
  std::map<uint64_t, uint64_t> expected;
  // A well-behaved session beside each kind of misbehaviour.
  threads.emplace_back(
      [&] { failures += EchoSessions(to_echo.port(), 400, kEach, 256 << 10, 16 << 10); });
  for (int i = 0; i < kEach; ++i) {
    ids.push_back(IdOf(400, i));
    expected[ids.back()] = 256 << 10;
    // A client that dribbles its bytes one by one (a record each).
    threads.emplace_back([&, i] {
      const Stream stream(IdOf(401, i));
      Client client(to_counting.port());
      for (uint64_t at = 0; at < kDribbled; ++at) {
        if (!client.Send(stream, at, 1)) {
          ++failures;
          return;
        }
        std::this_thread::sleep_for(5ms);
      }
    });
    // The destination resets after 100,000 bytes: the client sees the end.
    threads.emplace_back([&, i] {
      Client client(to_reset.port());
      client.Send(Stream(IdOf(402, i)), 0, 1 << 20);
      if (!client.WaitForEnd()) ++failures;
    });
    // The destination refuses: the client's connection is closed.
    threads.emplace_back([&] {
      Client client(to_refusing.port());
      if (!client.WaitForEnd()) ++failures;
    });
    // The destination never reads: the client stops sending when the
    // buffers are full and gives up with a reset.
    threads.emplace_back([&, i] {
      Client client(to_never.port());
      const int flags = fcntl(Descriptor(client.fd()), F_GETFL);
      fcntl(Descriptor(client.fd()), F_SETFL, flags | O_NONBLOCK);
      const std::string block = Stream(IdOf(403, i)).Bytes(0, 65536);
      const auto deadline = std::chrono::steady_clock::now() + 2s;
      while (std::chrono::steady_clock::now() < deadline &&
             (send(Descriptor(client.fd()), block.data(), block.size(), MSG_NOSIGNAL) > 0 ||
              errno == EAGAIN)) {
        std::this_thread::sleep_for(1ms);
      }
      client.Reset();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(echo.Mismatches() + resetting.Mismatches(), 0u);
  // The dribbled bytes all arrived, in order; one-byte records of several
  // sessions can't be told apart in a log, so it is checked as a whole: the
  // same bytes, as many of each.
  ASSERT_TRUE(counting.WaitForTotal(kEach * kDribbled));
  EXPECT_EQ(counting.Mismatches(), 0u);
  std::string dribbled;
  for (int i = 0; i < kEach; ++i) dribbled += Stream(IdOf(401, i)).Bytes(0, kDribbled);
  EXPECT_EQ(to_counting.Stop(SIGTERM), 0) << to_counting.StandardError();
  std::string dribble_logged = ReadFile(dribble_log);
  std::sort(dribbled.begin(), dribbled.end());
  std::sort(dribble_logged.begin(), dribble_logged.end());
  EXPECT_EQ(dribble_logged, dribbled);
  Figures::Add(kEach, dribble_logged.size(), 0);
  // Still serving: a fresh session after all that.
  {
    const Stream stream(IdOf(404, 0));
    Client client(to_echo.port());
    EXPECT_TRUE(client.Send(stream, 0, 1000) && client.ReceiveEcho(stream, 0, 1000));
    ids.push_back(stream.id());
    expected[stream.id()] = 1000;
  }
  for (Portwick* portwick : {&to_reset, &to_never, &to_refusing}) {
    EXPECT_EQ(portwick->Stop(SIGTERM), 0) << portwick->StandardError();
  }
  EXPECT_EQ(to_echo.Stop(SIGTERM), 0) << to_echo.StandardError();
  ExpectLogHolds(ReadFile(log), ids, expected, expected);
}

// A log target that fails (a full disk: /dev/full) must not stop the
// relay, and must say so: once while running, and at the stop how much was
// lost, which is everything relayed.
TEST(StressTest, AFailingLogSaysSoAndCountsEveryLostByte) {
  Destination destination(Behaviour::kEcho);
  Portwick portwick(destination.Address(), {{"--output=off", "--filename=/dev/full"}});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();
  const int kSessions = 16;
  const size_t kBytes = 64 << 10;
  EXPECT_EQ(EchoSessions(portwick.port(), 500, kSessions, kBytes, kBytes), 0);
  EXPECT_EQ(portwick.Stop(SIGINT), 1);
  const std::string error = portwick.StandardError();
  const std::string reported = "cannot write the traffic log file \"/dev/full\"";
  const size_t first = error.find(reported);
  EXPECT_NE(first, std::string::npos) << error;
  EXPECT_EQ(error.find(reported, first + 1), std::string::npos) << "said more than once";
  const uint64_t total = 2 * uint64_t{kSessions} * kBytes;
  EXPECT_NE(error.find("(" + std::to_string(total) + " bytes) could not be written"),
            std::string::npos)
      << error;
  Figures::Add(kSessions, total, 0);  // every lost byte was counted and said
}

// The log file removed while sessions relay: a new file is made under the
// name, and the old file (still open here) and the new one hold everything
// between them.
TEST(StressTest, ARemovedLogFileIsMadeAgainWithoutLosingRecords) {
  Scratch scratch;
  const std::string log = scratch.File("traffic.log");
  Destination destination(Behaviour::kEcho);
  Portwick portwick(destination.Address(), {{"--output=off", "--filename=" + log}});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();
  const int kSessions = 4;
  std::vector<uint64_t> ids;
  std::map<uint64_t, uint64_t> expected;
  std::vector<Client> clients;
  for (int i = 0; i < kSessions; ++i) {
    ids.push_back(IdOf(600, i));
    clients.emplace_back(portwick.port());
  }
  uint64_t offset = 0;
  const auto exchange = [&](size_t count) {
    for (int i = 0; i < kSessions; ++i) {
      const Stream stream(ids[static_cast<size_t>(i)]);
      Client& client = clients[static_cast<size_t>(i)];
      ASSERT_TRUE(client.Send(stream, offset, count) && client.ReceiveEcho(stream, offset, count));
    }
    offset += count;
  };
  exchange(100000);
  ASSERT_TRUE(destination.WaitForTotal(kSessions * offset));
  // The queued sink writes within its drain period; then the file goes.
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while ((!fs::exists(log) || fs::file_size(log) < 2 * kSessions * offset) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const int old_file = open(log.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(old_file, 0);
  ASSERT_EQ(unlink(log.c_str()), 0);
  // Traffic goes on until the program has noticed and made the file again.
  while (!fs::exists(log) && std::chrono::steady_clock::now() < deadline) exchange(1000);
  ASSERT_TRUE(fs::exists(log));
  exchange(50000);
  for (uint64_t id : ids) expected[id] = offset;
  clients.clear();
  EXPECT_EQ(portwick.Stop(SIGTERM), 0) << portwick.StandardError();

  std::string both;
  char buffer[65536];
  for (ssize_t n; (n = read(old_file, buffer, sizeof buffer)) > 0;) {
    both.append(buffer, static_cast<size_t>(n));
  }
  close(old_file);
  both += ReadFile(log);
  ExpectLogHolds(both, ids, expected, expected);
}

// Every stop signal under load: the program stops, delivers the queued log
// and exits 0; the log holds at least everything the destination received.
TEST(StressTest, EveryStopSignalUnderLoadKeepsTheLog) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal_number);
    Scratch scratch;
    const std::string log = scratch.File("traffic.log");
    Destination destination(Behaviour::kDiscard);
    Portwick portwick(destination.Address(), {{"--output=off", "--filename=" + log}});
    ASSERT_TRUE(portwick.started()) << portwick.StandardError();
    const int kSessions = 8;
    std::vector<uint64_t> ids;
    std::vector<std::thread> senders;
    for (int i = 0; i < kSessions; ++i) {
      ids.push_back(IdOf(700 + static_cast<uint64_t>(signal_number), i));
      senders.emplace_back([&portwick, id = ids.back()] {
        Client client(portwick.port());
        // Until the stop resets the connection.
        client.Send(Stream(id), 0, size_t{1} << 30);
      });
    }
    // Stopped mid-stream, with the queue full of records.
    ASSERT_TRUE(destination.WaitForTotal((uint64_t{32} << 20) * SoakFactor()));
    EXPECT_EQ(portwick.Stop(signal_number), 0) << portwick.StandardError();
    for (std::thread& sender : senders) sender.join();
    EXPECT_EQ(destination.Mismatches(), 0u);
    ExpectLogHolds(ReadFile(log), ids, destination.Received(), {}, /*up_may_exceed=*/true);
  }
}

// A log target that blocks for good (a FIFO that is never read) under
// load: the stop gives up after its time limit, says what was not written,
// and the program ends.
TEST(StressTest, ABlockedLogTargetDoesNotHangTheStop) {
  Scratch scratch;
  const std::string fifo = scratch.File("traffic.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Destination destination(Behaviour::kEcho);
  Portwick portwick(destination.Address(), {{"--output=off", "--filename=" + fifo}});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();
  // Within the queue's bound (16 MiB): the relay goes on although the log
  // target is stuck.
  const int kSessions = 4;
  const size_t kBytes = 1 << 20;
  EXPECT_EQ(EchoSessions(portwick.port(), 800, kSessions, kBytes, kBytes), 0)
      << "the queued log must not hold the relay up";
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_EQ(portwick.Stop(SIGTERM), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 15s);
  EXPECT_NE(portwick.StandardError().find("not written to the log file"), std::string::npos)
      << portwick.StandardError();
  close(reader);
  Figures::Add(kSessions, 2 * uint64_t{kSessions} * kBytes, 0);
}

// A FIFO as the pcapng file: without a reader the open fails at once
// instead of holding the program, stop signals and all, for good; with a
// reader that never reads, the stop gives the blocked write up after its
// time limit. Either way the program says so and ends with exit code 1.
TEST(StressTest, APcapFifoNeverHoldsTheProgram) {
  Scratch scratch;
  const std::string fifo = scratch.File("capture.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Destination destination(Behaviour::kEcho);
  testing::ChildProcess::Options options;
  options.argv = {PORTWICK_BINARY, "--console", "--source=0",
                  "--destination=" + destination.Address(), "--pcap=" + fifo};
  std::string error;
  const auto alone = testing::ChildProcess::Start(options, &error);
  ASSERT_TRUE(alone) << error;
  std::optional<int> status = alone->WaitForExit(3s);
  if (!status && alone->Signal(SIGTERM)) status = alone->WaitForExit(3s);
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "not ended at once";

  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  Portwick portwick(destination.Address(), {{"--output=off", "--pcap=" + fifo}});
  ASSERT_TRUE(portwick.started()) << portwick.StandardError();
  EXPECT_EQ(EchoSessions(portwick.port(), 900, 4, 1 << 20, 64 << 10), 0);
  EXPECT_EQ(portwick.Stop(SIGTERM, 10s), 1);  // the limit is 5 s
  EXPECT_NE(portwick.StandardError().find("cannot write the pcap file"), std::string::npos)
      << portwick.StandardError();
  close(reader);
}

}  // namespace
}  // namespace portwick::stress

// Prints the suite's figures when all cases have run.
class FiguresPrinter : public ::testing::Environment {
 public:
  void TearDown() override { std::printf("%s\n", portwick::stress::Figures::Text().c_str()); }
};

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new FiguresPrinter);
  return RUN_ALL_TESTS();
}
