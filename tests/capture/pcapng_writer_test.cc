// The pcapng files are read back with tshark and capinfos (Debian's
// wireshark tools), not with a parser of our own.
#include "capture/pcapng_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <process.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "capture/session_label.h"
#include "capture/tcp_packet.h"
#include "capture_events.h"
#include "tshark_reader.h"

namespace portwick {
namespace {

namespace fs = std::filesystem;
using testing::EventFeeder;
using testing::FollowTcpStream;
using testing::HaveTshark;
using testing::Shell;

constexpr auto kUp = Direction::kClientToServer;
constexpr auto kDown = Direction::kServerToClient;

int ProcessId() {
#if defined(_WIN32)
  return ::_getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

std::string RandomBytes(std::mt19937& random, size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() % 4 == 0 ? 0 : random());
  return bytes;
}

class PcapngWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
    directory_ = fs::temp_directory_path() / ("portwick-pcap-" + std::to_string(ProcessId()));
    fs::create_directories(directory_);
    path_ = (directory_ / "run.pcapng").string();
  }
  void TearDown() override {
    if (getenv("PORTWICK_KEEP_PCAP") != nullptr) return;
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  fs::path directory_;
  std::string path_;
};

TEST_F(PcapngWriterTest, FollowGivesBackWhatEachSideSent) {
  std::mt19937 random(99);
  // session -> (client bytes, server bytes)
  std::map<SessionId, std::pair<std::string, std::string>> sent;
  {
    PcapngWriter writer(path_);
    ASSERT_TRUE(writer.status().ok()) << writer.status().Message();
    EventFeeder feeder(&writer);
    // 1: binary both ways, interleaved with 2 and 3; the client half-closes
    // first and the server answers after that.
    // 2: reset by the server in the middle.
    // 3: over IPv6, with a chunk larger than the largest IP packet.
    // 4: the connect fails (no conversation).
    feeder.OpenAndConnect(1);
    feeder.OpenAndConnect(2);
    feeder.set_client_base(Endpoint::LoopbackIPv6(40000));
    feeder.set_destination(Endpoint::LoopbackIPv6(2007));
    feeder.OpenAndConnect(3);
    feeder.Open(4);
    feeder.FailConnect(4, "connect", 111, "Connection refused");
    feeder.Close(4, CloseReason::kConnectFailed);
    for (int round = 0; round < 20; ++round) {
      for (SessionId id : {1, 2, 3}) {
        const Direction direction = random() % 2 == 0 ? kUp : kDown;
        const std::string bytes = RandomBytes(random, 1 + random() % 3000);
        (direction == kUp ? sent[id].first : sent[id].second) += bytes;
        feeder.Chunk(id, direction, bytes);
      }
    }
    const std::string large = RandomBytes(random, 150000);
    sent[3].second += large;
    feeder.Chunk(3, kDown, large);
    feeder.HalfClose(1, kUp);
    feeder.Chunk(1, kDown, std::string("\0after the FIN\0", 15));
    sent[1].second += std::string("\0after the FIN\0", 15);
    feeder.HalfClose(1, kDown);
    feeder.Close(1, CloseReason::kBothFinished);
    feeder.Close(2, CloseReason::kResetByServer);
    feeder.Close(3, CloseReason::kStopped);
    writer.Flush();
    EXPECT_TRUE(writer.status().ok());
  }

  int status = -1;
  Shell("capinfos '" + path_ + "'", &status);
  EXPECT_EQ(status, 0) << "capinfos refused the file";

  const SessionId order[] = {1, 2, 3};  // tshark numbers streams by first packet
  for (int index = 0; index < 3; ++index) {
    SCOPED_TRACE(index);
    const testing::FollowedStream followed = FollowTcpStream(path_, index);
    const SessionId id = order[index];
    EXPECT_EQ(followed.from0.size(), sent[id].first.size());
    EXPECT_TRUE(followed.from0 == sent[id].first);
    EXPECT_EQ(followed.from1.size(), sent[id].second.size());
    EXPECT_TRUE(followed.from1 == sent[id].second);
  }
  EXPECT_EQ(FollowTcpStream(path_, 0).node0, "127.0.0.1:40001");
  EXPECT_EQ(FollowTcpStream(path_, 0).node1, "127.0.0.1:2007");
  EXPECT_EQ(FollowTcpStream(path_, 2).node0, "[::1]:40003");
  // Session 4 left nothing.
  EXPECT_EQ(Shell("tshark -r '" + path_ + "' -T fields -e tcp.stream | sort -u | wc -l"), "3\n");

  // tshark's TCP analysis finds no lost, repeated or unseen segment, and
  // every checksum is right (status 1 is good, 0 bad).
  const std::string checked =
      "tshark -r '" + path_ + "' -o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE -Y ";
  EXPECT_EQ(Shell(checked + "'tcp.analysis.flags && !tcp.analysis.window_update'"), "");
  const std::string all_packets = Shell("tshark -r '" + path_ + "' | wc -l");
  EXPECT_EQ(Shell(checked + "'tcp.checksum.status == 1' | wc -l"), all_packets);
  EXPECT_EQ(Shell(checked + "'ip.checksum.status == 1 || ipv6' | wc -l"), all_packets);
  // Endings: FIN both ways for 1, an RST from the server for 2, both for 3.
  const std::string ends = Shell("tshark -r '" + path_ +
                                 "' -Y 'tcp.flags.fin == 1 || tcp.flags.reset == 1' -T fields -e "
                                 "tcp.stream -e tcp.srcport -e tcp.flags.str");
  EXPECT_EQ(ends,
            "0\t40001\t·······A···F\n"
            "0\t2007\t·······A···F\n"
            "1\t2007\t·······A·R··\n"
            "2\t40003\t·······A·R··\n"
            "2\t2007\t·······A·R··\n");
}

// Session 1 of a run's only forward and session 1 of its second forward are
// two conversations.
TEST_F(PcapngWriterTest, SameNumberInTwoForwardsStaysApart) {
  {
    PcapngWriter writer(path_);
    EventFeeder feeder(&writer);
    feeder.OpenAndConnect(1);
    feeder.OpenAndConnect(CaptureKey(2, 1));
    feeder.Chunk(1, kUp, "one");
    feeder.Chunk(CaptureKey(2, 1), kUp, "two");
    writer.Flush();
  }
  EXPECT_EQ(FollowTcpStream(path_, 0).from0, "one");
  EXPECT_EQ(FollowTcpStream(path_, 1).from0, "two");
}

TEST_F(PcapngWriterTest, TimestampsAreTheEventsOwnToTheNanosecond) {
  {
    PcapngWriter writer(path_);
    EventFeeder feeder(&writer, std::chrono::microseconds(1));
    feeder.OpenAndConnect(1);
    feeder.Chunk(1, kUp, "x");
    feeder.Close(1, CloseReason::kResetByClient);
  }
  // SYN at the open, SYN-ACK and ACK at the connect, data, the client's RST.
  EXPECT_EQ(Shell("tshark -r '" + path_ + "' -T fields -e frame.time_epoch -e tcp.srcport"),
            "1772366400.000000000\t40001\n1772366400.000001000\t2007\n"
            "1772366400.000001000\t40001\n1772366400.000002000\t40001\n"
            "1772366400.000003000\t40001\n");
}

TEST_F(PcapngWriterTest, FileIsValidAfterEveryFlush) {
  PcapngWriter writer(path_);
  EventFeeder feeder(&writer);
  feeder.OpenAndConnect(1);
  writer.Flush();
  EXPECT_EQ(Shell("tshark -r '" + path_ + "' -T fields -e tcp.flags.str | wc -l"), "3\n");
  feeder.Chunk(1, kUp, "more");
  writer.Flush();
  EXPECT_EQ(Shell("tshark -r '" + path_ + "' -T fields -e tcp.len | tail -n 1"), "4\n");
}

TEST(PcapngWriterFailureTest, OpenAndWriteFailuresAreReported) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX only";
#else
  PcapngWriter missing("/nonexistent-folder/x.pcapng");
  EXPECT_EQ(missing.status().step(), "open");
  EXPECT_EQ(missing.status().error_number(), ENOENT);

  std::vector<Status> reports;
  PcapngWriter full("/dev/full", [&](const Status& status) { reports.push_back(status); });
  EventFeeder feeder(&full);
  feeder.OpenAndConnect(1);
  full.Flush();
  full.Flush();
  ASSERT_EQ(reports.size(), 1u);  // once, not per write
  EXPECT_EQ(reports[0].step(), "write");
  EXPECT_EQ(reports[0].error_number(), ENOSPC);

  // A file that can't grow (a full disk; here a size limit, SIGXFSZ
  // ignored) is cut back to its last whole block. New files are the
  // owner's alone, whatever the umask would let through.
  const std::string path = ::testing::TempDir() + "limited.pcapng";
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const rlimit limit{1000, old_limit.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  const mode_t old_mask = umask(0);
  PcapngWriter limited(path);
  umask(old_mask);
  EventFeeder limited_feeder(&limited);
  limited_feeder.OpenAndConnect(1);
  limited.Flush();
  const uintmax_t whole = fs::file_size(path);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  limited_feeder.Chunk(1, kUp, std::string(2000, 'x'));
  limited.Flush();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(limited.status().error_number(), EFBIG);
  EXPECT_EQ(fs::file_size(path), whole);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(path);
#endif
}

TEST(TcpPacketTest, FamiliesAreMatchedForOnePacket) {
  struct Case {
    const char* a;
    const char* b;
    const char* a_after;
    const char* b_after;
  };
  const Case cases[] = {
      {"127.0.0.1", "10.0.0.1", "127.0.0.1", "10.0.0.1"},
      {"::ffff:127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.1"},
      {"::ffff:127.0.0.1", "::1", "::ffff:127.0.0.1", "::1"},
      {"127.0.0.1", "::1", "::ffff:127.0.0.1", "::1"},
  };
  for (const Case& c : cases) {
    Endpoint a = *Endpoint::ParseAddress(c.a, 1);
    Endpoint b = *Endpoint::ParseAddress(c.b, 2);
    MatchFamilies(&a, &b);
    EXPECT_EQ(a.AddressText(), c.a_after);
    EXPECT_EQ(b.AddressText(), c.b_after);
    EXPECT_EQ(a.family(), b.family());
    EXPECT_EQ(a.port(), 1);
  }
  EXPECT_EQ(MaxTcpPayload(Endpoint::LoopbackIPv4(1), Endpoint::LoopbackIPv4(2)), 65495u);
  EXPECT_EQ(MaxTcpPayload(Endpoint::LoopbackIPv6(1), Endpoint::LoopbackIPv6(2)), 65515u);
}

}  // namespace
}  // namespace portwick
