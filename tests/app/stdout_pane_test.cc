#include "app/stdout_pane.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "base/write_fully.h"

namespace portwick {
namespace {

// A pipe of C runtime descriptors, not inherited by child processes.
bool MakePipe(int fds[2]) {
#if defined(_WIN32)
  return _pipe(fds, 65536, _O_BINARY | _O_NOINHERIT) == 0;
#else
  return pipe2(fds, O_CLOEXEC) == 0;
#endif
}

// Reads `fd` to its end on a thread of its own.
class PipeReader {
 public:
  explicit PipeReader(int fd)
      : thread_([this, fd] {
          char buffer[8192];
          ssize_t n;
          while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
            text_.append(buffer, static_cast<size_t>(n));
          }
        }) {}
  // Call after the write end is closed.
  std::string Finish() {
    thread_.join();
    return text_;
  }

 private:
  std::string text_;
  std::thread thread_;
};

TEST(StdoutPaneTest, ConcurrentTextsArriveWholeAndUnconverted) {
  int fds[2];
  ASSERT_TRUE(MakePipe(fds));
  PipeReader reader(fds[0]);
  constexpr int kThreads = 6;
  constexpr int kTextsPerThread = 100;
  // Longer than PIPE_BUF: the kernel alone would not keep such writes whole.
  constexpr size_t kTextSize = 3 * 4096;
  {
    StdoutPane pane(fds[1]);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&pane, t] {
        std::string text(kTextSize - 2, static_cast<char>('a' + t));
        text += "\r\n";
        for (int i = 0; i < kTextsPerThread; ++i) pane.AppendText(text.c_str());
      });
    }
    for (std::thread& writer : writers) writer.join();
    pane.AppendText("stops at\0 the NUL");
  }
  close(fds[1]);
  const std::string output = reader.Finish();
  close(fds[0]);

  const std::string tail = "stops at";
  ASSERT_EQ(output.size(), kThreads * kTextsPerThread * kTextSize + tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
  std::vector<int> counts(kThreads, 0);
  for (size_t start = 0; start + kTextSize <= output.size(); start += kTextSize) {
    const char letter = output[start];
    ASSERT_TRUE(letter >= 'a' && letter < 'a' + kThreads) << "at " << start;
    ASSERT_EQ(output.compare(start, kTextSize, std::string(kTextSize - 2, letter) + "\r\n"), 0)
        << "text interleaved at " << start;
    ++counts[letter - 'a'];
  }
  for (int count : counts) EXPECT_EQ(count, kTextsPerThread);
}

TEST(StdoutPaneTest, ClosedReaderDropsTextInsteadOfFailingTheProcess) {
  int fds[2];
  ASSERT_TRUE(MakePipe(fds));
  close(fds[0]);
#if !defined(_WIN32)
  // Console mode ignores SIGPIPE; so does this test.
  signal(SIGPIPE, SIG_IGN);
#endif
  StdoutPane pane(fds[1]);
  pane.AppendText("nobody reads this");
  EXPECT_EQ(WriteFully(fds[1], "x", 1), -EPIPE);
  close(fds[1]);
}

}  // namespace
}  // namespace portwick
