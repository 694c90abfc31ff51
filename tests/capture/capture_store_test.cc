#include "capture/capture_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "capture_events.h"

namespace portwick {
namespace {

using testing::EventFeeder;

constexpr auto kUp = Direction::kClientToServer;
constexpr auto kDown = Direction::kServerToClient;

std::string Concatenated(const ChunkPage& page) {
  std::string bytes;
  for (const ChunkRef& chunk : page.chunks) bytes += chunk->bytes();
  return bytes;
}

TEST(CaptureStoreTest, LifecycleStates) {
  struct Case {
    const char* name;
    void (*events)(EventFeeder&);
    CapturedState state;
    CloseReason reason;
    bool client_finished;
    bool server_finished;
    uint64_t open_after;
  };
  const Case cases[] = {
      {"accepted", [](EventFeeder& f) { f.Open(1); }, CapturedState::kConnecting,
       CloseReason::kStopped, false, false, 1},
      {"connected", [](EventFeeder& f) { f.OpenAndConnect(1); }, CapturedState::kOpen,
       CloseReason::kStopped, false, false, 1},
      {"half-closed by the server",
       [](EventFeeder& f) {
         f.OpenAndConnect(1);
         f.HalfClose(1, kDown);
       },
       CapturedState::kHalfClosed, CloseReason::kStopped, false, true, 1},
      {"both FINs",
       [](EventFeeder& f) {
         f.OpenAndConnect(1);
         f.HalfClose(1, kUp);
         f.HalfClose(1, kDown);
         f.Close(1, CloseReason::kBothFinished);
       },
       CapturedState::kClosed, CloseReason::kBothFinished, true, true, 0},
      {"reset by the server",
       [](EventFeeder& f) {
         f.OpenAndConnect(1);
         f.Close(1, CloseReason::kResetByServer);
       },
       CapturedState::kClosed, CloseReason::kResetByServer, false, false, 0},
      {"connect failed",
       [](EventFeeder& f) {
         f.Open(1);
         f.FailConnect(1, "connect", 111, "Connection refused");
         f.Close(1, CloseReason::kConnectFailed);
       },
       CapturedState::kFailed, CloseReason::kConnectFailed, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureStore store(1 << 20);
    EventFeeder feeder(&store);
    c.events(feeder);
    const std::optional<CapturedSession> session = store.Session(1);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->state, c.state);
    if (session->state == CapturedState::kClosed) {
      EXPECT_EQ(session->close_reason, c.reason);
    }
    EXPECT_EQ(session->client_finished, c.client_finished);
    EXPECT_EQ(session->server_finished, c.server_finished);
    EXPECT_EQ(session->client, feeder.client(1));
    const CaptureCounts counts = store.Counts();
    EXPECT_EQ(counts.sessions_total, 1u);
    EXPECT_EQ(counts.sessions_open, c.open_after);
    if (c.state == CapturedState::kFailed) {
      EXPECT_EQ(session->failure.step(), "connect");
      EXPECT_EQ(session->failure.reason(), "Connection refused");
      EXPECT_EQ(session->destination_host, "localhost");
    }
    if (c.state == CapturedState::kOpen) {
      EXPECT_EQ(session->destination, feeder.destination());
    }
  }
}

TEST(CaptureStoreTest, ChunksKeepBoundariesDirectionAndOffsets) {
  CaptureStore store(1 << 20);
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(7);
  const std::string request("GET /\0x\r\n", 9);
  feeder.Chunk(7, kUp, request);
  feeder.Chunk(7, kDown, "OK");
  feeder.Chunk(7, kUp, std::string(1, '\0'));
  feeder.Chunk(7, kDown, "done");

  const ChunkPage page = store.Chunks(7, 0, 100);
  ASSERT_TRUE(page.found);
  ASSERT_EQ(page.chunks.size(), 4u);
  EXPECT_EQ(page.chunk_count, 4u);
  struct Expected {
    Direction direction;
    std::string bytes;
    uint64_t offset;
  };
  const Expected expected[] = {
      {kUp, request, 0}, {kDown, "OK", 0}, {kUp, std::string(1, '\0'), 9}, {kDown, "done", 2}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(page.chunks[i]->index(), i);
    EXPECT_EQ(page.chunks[i]->direction(), expected[i].direction);
    EXPECT_EQ(page.chunks[i]->bytes(), expected[i].bytes);
    EXPECT_EQ(page.chunks[i]->stream_offset(), expected[i].offset);
  }
  const CapturedSession session = *store.Session(7);
  EXPECT_EQ(session.bytes_up, 10u);
  EXPECT_EQ(session.bytes_down, 6u);
  EXPECT_EQ(session.bytes_kept, 16u);
  EXPECT_FALSE(session.trimmed());
  EXPECT_EQ(store.Counts().bytes_up, 10u);
  EXPECT_EQ(store.Counts().bytes_down, 6u);
}

TEST(CaptureStoreTest, PagesFromAnIndex) {
  CaptureStore store(1 << 20);
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  for (int i = 0; i < 10; ++i) feeder.Chunk(1, kUp, std::string(10, static_cast<char>('a' + i)));
  struct Case {
    uint64_t from;
    size_t max_chunks;
    size_t max_bytes;
    std::string bytes;
  };
  const Case cases[] = {
      {0, 2, SIZE_MAX, std::string(10, 'a') + std::string(10, 'b')},
      {8, 100, SIZE_MAX, std::string(10, 'i') + std::string(10, 'j')},
      {10, 100, SIZE_MAX, ""},  // nothing new yet
      {3, 100, 15, std::string(10, 'd') + std::string(10, 'e')},
      {3, 100, 0, std::string(10, 'd')},  // at least one chunk
      {50, 100, SIZE_MAX, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(Concatenated(store.Chunks(1, c.from, c.max_chunks, c.max_bytes)), c.bytes);
  }
  EXPECT_FALSE(store.Chunks(2, 0, 10).found);
}

TEST(CaptureStoreTest, FullStoreDropsTheOldestChunksFirstAndCountsThem) {
  constexpr size_t kSize = 1000;
  const uint64_t chunk_cost = kSize + CaptureStore::kChunkOverhead;
  // Room for two sessions and exactly five chunks.
  const uint64_t limit = 2 * CaptureStore::kSessionOverhead + 5 * chunk_cost;
  CaptureStore store(limit);
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  feeder.OpenAndConnect(2);
  // 1:a 2:b 1:c 2:d 1:e fill the store; 2:f drops 1:a, 2:g drops 2:b,
  // 1:h drops 1:c.
  const std::pair<SessionId, char> order[] = {{1, 'a'}, {2, 'b'}, {1, 'c'}, {2, 'd'},
                                              {1, 'e'}, {2, 'f'}, {2, 'g'}, {1, 'h'}};
  for (const auto& [session, letter] : order) {
    feeder.Chunk(session, kUp, std::string(kSize, letter));
  }
  const CapturedSession one = *store.Session(1);
  const CapturedSession two = *store.Session(2);
  EXPECT_EQ(one.chunk_count, 4u);
  EXPECT_EQ(one.first_kept_chunk, 2u);
  EXPECT_EQ(one.bytes_dropped, 2 * kSize);
  EXPECT_EQ(one.bytes_kept, 2 * kSize);
  EXPECT_TRUE(one.trimmed());
  EXPECT_EQ(two.first_kept_chunk, 1u);
  EXPECT_EQ(two.bytes_dropped, kSize);
  EXPECT_EQ(Concatenated(store.Chunks(1, 0, 10)),
            std::string(kSize, 'e') + std::string(kSize, 'h'));
  EXPECT_EQ(Concatenated(store.Chunks(2, 0, 10)),
            std::string(kSize, 'd') + std::string(kSize, 'f') + std::string(kSize, 'g'));
  // The relayed counts are untouched by what the capture dropped.
  EXPECT_EQ(one.bytes_up, 4 * kSize);
  const CaptureCounts counts = store.Counts();
  EXPECT_EQ(counts.bytes_dropped, 3 * kSize);
  EXPECT_EQ(counts.capture_used, limit);
  EXPECT_EQ(counts.bytes_up, 8 * kSize);
}

TEST(CaptureStoreTest, TrimmedSessionsStayListedUntilNoChunkIsLeftToDrop) {
  constexpr size_t kSize = 100;
  const uint64_t chunk_cost = kSize + CaptureStore::kChunkOverhead;
  const uint64_t limit = 3 * CaptureStore::kSessionOverhead + 2 * chunk_cost;
  CaptureStore store(limit);
  EventFeeder feeder(&store);
  // Session 1 failed without chunks; session 2 ended with one chunk;
  // session 3 is open.
  feeder.Open(1);
  feeder.FailConnect(1, "resolve", 0, "Name or service not known");
  feeder.Close(1, CloseReason::kConnectFailed);
  feeder.OpenAndConnect(2);
  feeder.Chunk(2, kUp, std::string(kSize, 'x'));
  feeder.Close(2, CloseReason::kBothFinished);
  feeder.OpenAndConnect(3);
  feeder.Chunk(3, kUp, std::string(kSize, 'y'));
  EXPECT_EQ(store.Counts().capture_used, limit);

  // Room for one more chunk: the oldest chunk goes (session 2's); every
  // session stays listed, session 2 trimmed to nothing.
  feeder.Chunk(3, kUp, std::string(kSize, 'z'));
  ASSERT_TRUE(store.Session(1));
  ASSERT_TRUE(store.Session(2));
  EXPECT_TRUE(store.Session(2)->trimmed());
  EXPECT_EQ(store.Session(2)->bytes_kept, 0u);

  // Many more: only chunks go; session 3 stays however much of it is dropped.
  for (int i = 0; i < 30; ++i) feeder.Chunk(3, kUp, std::string(kSize, 'w'));
  EXPECT_EQ(store.Counts().sessions_dropped, 0u);
  EXPECT_EQ(store.Counts().sessions_kept, 3u);
  EXPECT_LE(store.Counts().capture_used, limit);
  const CapturedSession three = *store.Session(3);
  EXPECT_EQ(three.chunk_count, 32u);
  EXPECT_GT(three.first_kept_chunk, 2u);  // 'y' and 'z' are gone
  const std::string held = Concatenated(store.Chunks(3, 0, 100));
  EXPECT_EQ(held, std::string((three.chunk_count - three.first_kept_chunk) * kSize, 'w'));
  EXPECT_EQ(three.bytes_dropped, three.first_kept_chunk * kSize);

  // A new session needs more room than the chunks left: they go, then the
  // ended session that ended first.
  feeder.Open(4);
  EXPECT_FALSE(store.Session(1));
  ASSERT_TRUE(store.Session(2));
  EXPECT_EQ(store.Session(3)->bytes_kept, 0u);
  EXPECT_EQ(store.Counts().sessions_dropped, 1u);
  EXPECT_EQ(store.Counts().sessions_total, 4u);
  EXPECT_LE(store.Counts().capture_used, limit);
}

TEST(CaptureStoreTest, ChunksThatCannotBeHeldAreCountedAsDropped) {
  struct Case {
    const char* name;
    uint64_t limit;
    size_t size;
  };
  const Case cases[] = {
      {"capture off", 0, 10},
      {"larger than the limit", CaptureStore::kSessionOverhead + 100, 200},
      // All room is taken by open sessions.
      {"only open sessions", CaptureStore::kSessionOverhead, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureStore store(c.limit);
    EXPECT_EQ(store.WantsChunks(), c.limit > 0);
    EventFeeder feeder(&store);
    feeder.OpenAndConnect(1);
    feeder.Chunk(1, kDown, std::string(c.size, 'q'));
    const CapturedSession session = *store.Session(1);
    EXPECT_EQ(session.bytes_down, c.size);
    EXPECT_EQ(session.bytes_dropped, c.size);
    EXPECT_EQ(session.chunk_count, 0u);
    EXPECT_EQ(store.Counts().bytes_dropped, c.size);
    EXPECT_TRUE(store.Chunks(1, 0, 10).chunks.empty());
  }
}

TEST(CaptureStoreTest, ClosedTotalsWinOverCountedChunks) {
  CaptureStore store(0);  // no chunks held or given
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(4);
  feeder.Close(4, CloseReason::kBothFinished, 1234, 56);
  const CapturedSession session = *store.Session(4);
  EXPECT_EQ(session.bytes_up, 1234u);
  EXPECT_EQ(session.bytes_down, 56u);
  EXPECT_EQ(store.Counts().bytes_up, 1234u);
  EXPECT_EQ(store.Counts().sessions_open, 0u);
}

TEST(CaptureStoreTest, SessionsChangedSinceASequence) {
  CaptureStore store(1 << 20);
  EventFeeder feeder(&store);
  for (SessionId id = 1; id <= 3; ++id) feeder.Open(id);
  const uint64_t seen = store.Counts().sequence;
  EXPECT_EQ(store.Sessions(0).size(), 3u);
  EXPECT_TRUE(store.Sessions(seen).empty());
  feeder.Connect(2);
  const std::vector<CapturedSession> changed = store.Sessions(seen);
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].id, 2u);
  EXPECT_GT(store.Counts().sequence, seen);
  // Events of sessions the store never saw open change nothing.
  const uint64_t before = store.Counts().sequence;
  feeder.Chunk(99, kUp, "x");
  feeder.Close(99, CloseReason::kStopped);
  EXPECT_EQ(store.Counts().sequence, before);
}

TEST(CaptureStoreTest, ReferencesOutliveDroppedChunks) {
  const uint64_t limit = CaptureStore::kSessionOverhead + 100 + CaptureStore::kChunkOverhead;
  CaptureStore store(limit);
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, kUp, std::string(100, 'a'));
  const ChunkPage page = store.Chunks(1, 0, 1);
  feeder.Chunk(1, kUp, std::string(100, 'b'));  // drops the first
  EXPECT_EQ(store.Session(1)->first_kept_chunk, 1u);
  ASSERT_EQ(page.chunks.size(), 1u);
  EXPECT_EQ(page.chunks[0]->bytes(), std::string(100, 'a'));
}

// The chunks live in blocks of the store's own, reused once their chunks
// are gone, so many writer threads can't make the memory grow past the
// limit (memory from per-thread malloc arenas was kept by each arena).
TEST(CaptureStoreTest, BlocksBoundTheMemoryWhateverTheWriters) {
  constexpr uint64_t kLimit = 4 << 20;
  CaptureStore store(kLimit);
  EventFeeder feeder(&store);
  constexpr int kThreads = 16;
  for (SessionId id = 1; id <= kThreads / 2; ++id) {
    feeder.OpenAndConnect(id);
  }
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&store, t] {
      const std::string bytes(10384, static_cast<char>('a' + t));
      SessionChunk chunk;
      chunk.session = static_cast<SessionId>(t / 2 + 1);
      chunk.direction = t % 2 == 0 ? kUp : kDown;
      chunk.data = bytes.data();
      chunk.size = bytes.size();
      for (int i = 0; i < 800; ++i) {  // 8 MiB per thread, 32 times the limit in all
        chunk.time = EventTime::Now();
        store.OnChunk(chunk);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  const CaptureCounts counts = store.Counts();
  EXPECT_LE(counts.capture_used, kLimit);
  EXPECT_GT(counts.bytes_dropped, 0u);
  // The limit, plus the block being filled, one being emptied, and at most
  // one per writer that was copying (a chunk taken but not yet published
  // keeps its block until its own turn to be dropped). 128 MiB were written.
  const size_t block = kLimit / 8;
  EXPECT_LE(store.BlockMemory(), kLimit + (kThreads + 2) * block);
  EXPECT_GE(store.BlockMemory(), counts.capture_used / 2);
  // What is held is intact: every chunk is one thread's letter throughout.
  for (const CapturedSession& session : store.Sessions()) {
    for (const ChunkRef& chunk : store.Chunks(session.id, 0, SIZE_MAX).chunks) {
      ASSERT_EQ(chunk->size(), 10384u);
      EXPECT_EQ(chunk->bytes().find_first_not_of(chunk->bytes()[0]), std::string_view::npos);
    }
  }
}

TEST(CaptureStoreTest, AChunkLargerThanABlockHasOneOfItsOwn) {
  const uint64_t limit = 64 << 10;  // blocks of 16 KiB
  CaptureStore store(limit);
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  const std::string large(40000, 'L');
  feeder.Chunk(1, kUp, "small");
  feeder.Chunk(1, kUp, large);
  feeder.Chunk(1, kUp, "after");
  EXPECT_EQ(Concatenated(store.Chunks(1, 0, 10)), "small" + large + "after");
  // The large one goes like any other when room is needed.
  for (int i = 0; i < 4; ++i) feeder.Chunk(1, kDown, std::string(9000, 'd'));
  const CapturedSession session = *store.Session(1);
  EXPECT_GE(session.first_kept_chunk, 2u);
  EXPECT_LE(store.Counts().capture_used, limit);
}

// Two writers per session (one per direction) and a reader at the same
// time: every page the reader gets is consecutive and agrees with the
// offsets, and in the end everything relayed is either held or counted as
// dropped.
TEST(CaptureStoreTest, ConcurrentWritersAndReader) {
  constexpr int kSessions = 4;
  constexpr int kChunks = 2000;
  const uint64_t limit = 64 * 1024;
  CaptureStore store(limit);
  EventFeeder feeder(&store);
  for (SessionId id = 1; id <= kSessions; ++id) {
    feeder.OpenAndConnect(id);
  }
  std::atomic<bool> done{false};
  std::atomic<int> bad_pages{0};
  std::thread reader([&] {
    while (!done.load()) {
      for (SessionId id = 1; id <= kSessions; ++id) {
        const ChunkPage page = store.Chunks(id, 0, 64);
        uint64_t expected_offset[2] = {UINT64_MAX, UINT64_MAX};
        for (size_t i = 0; i < page.chunks.size(); ++i) {
          const CapturedChunk& chunk = *page.chunks[i];
          const size_t d = chunk.direction() == kUp ? 0 : 1;
          const bool consecutive = chunk.index() == page.first_kept_chunk + i;
          const bool offset_ok =
              expected_offset[d] == UINT64_MAX || chunk.stream_offset() == expected_offset[d];
          // Each chunk holds its own direction's offset in every byte.
          const char mark = static_cast<char>(chunk.stream_offset() % 251);
          const bool bytes_ok = chunk.bytes().find_first_not_of(mark) == std::string_view::npos;
          if (!consecutive || !offset_ok || !bytes_ok) bad_pages.fetch_add(1);
          expected_offset[d] = chunk.stream_offset() + chunk.size();
        }
        if (store.Counts().capture_used > limit) bad_pages.fetch_add(1);
      }
    }
  });
  std::vector<std::thread> writers;
  for (SessionId id = 1; id <= kSessions; ++id) {
    for (Direction direction : {kUp, kDown}) {
      writers.emplace_back([&store, id, direction] {
        uint64_t offset = 0;
        for (int i = 0; i < kChunks; ++i) {
          const size_t size = 1 + static_cast<size_t>(i % 97);
          const std::string bytes(size, static_cast<char>(offset % 251));
          SessionChunk chunk;
          chunk.session = id;
          chunk.direction = direction;
          chunk.time = EventTime::Now();
          chunk.data = bytes.data();
          chunk.size = bytes.size();
          store.OnChunk(chunk);
          offset += size;
        }
      });
    }
  }
  for (std::thread& writer : writers) writer.join();
  done.store(true);
  reader.join();
  EXPECT_EQ(bad_pages.load(), 0);

  uint64_t relayed = 0;
  uint64_t accounted = 0;
  for (const CapturedSession& session : store.Sessions()) {
    relayed += session.bytes_up + session.bytes_down;
    accounted += session.bytes_kept + session.bytes_dropped;
    EXPECT_EQ(session.chunk_count - session.first_kept_chunk,
              store.Chunks(session.id, 0, SIZE_MAX).chunks.size());
  }
  const CaptureCounts counts = store.Counts();
  EXPECT_EQ(relayed, counts.bytes_up + counts.bytes_down);
  EXPECT_EQ(accounted, relayed);
  EXPECT_GT(counts.bytes_dropped, 0u);
  EXPECT_LE(counts.capture_used, limit);
}

}  // namespace
}  // namespace portwick
