// The main window relaying bulk transfers through a load server while its GUI
// thread is watched: for each way of showing the traffic, the throughput, how
// late a 10 ms timer on the GUI thread fires (p50/p99), the peak resident
// memory and the time from the transfer's last byte to the "[Stopped]" title.
// Runs with any Qt platform; bench/run.sh uses the offscreen one, which paints
// into memory as a desktop would, without a display server.
//
//   portwick_gui_bench [--port=P] [--mib=1024] [--rss-gib=0] [--sessions=5000]
//                      [--big-session-mib=200]
//
// --port: a running portwick_bench_server (else one runs in this process).
// --rss-gib: also relay that many GiB with everything shown, for peak memory
// (--rss-only: only that; --rss-shown=pane|sessions|nothing: show less).
// --sessions, --big-session-mib: the Sessions window's list of that many
// sessions and a conversation of that size, from a store filled directly.
#include <unistd.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/flags.h"
#include "bench/load_client.h"
#include "bench/load_server.h"
#include "bench/proc_stats.h"
#include "bench/stats.h"
#include "capture/capture_store.h"
#include "run/proxy_settings.h"
#include "ui/file_choosers.h"
#include "ui/framework/qt/output_pane_widget.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window.h"
#include "ui/main_window_template.h"
#include "ui/qt/conversation_model.h"
#include "ui/qt/session_list_model.h"
#include "ui/qt/sessions_view_qt.h"
#include "ui/qt/sessions_window.h"

namespace portwick::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Resets the process's peak resident memory so the next reading is this
// phase's own.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

long Usage(bool peak) {
  ProcessUsage usage;
  if (!ReadProcessUsage(getpid(), false, &usage)) return 0;
  return peak ? usage.peak_rss_kib : usage.rss_kib;
}

// How late a 10 ms timer on the GUI thread fires, collected while it runs.
class LatencyProbe {
 public:
  static constexpr std::chrono::milliseconds kInterval{10};

  LatencyProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kInterval);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const Clock::time_point now = Clock::now();
      if (last_ != Clock::time_point{}) {
        lateness_ms_.push_back(std::max(0.0, Seconds(now - last_ - kInterval) * 1000.0));
      }
      last_ = now;
    });
    timer_.start();
  }
  const std::vector<double>& lateness_ms() const { return lateness_ms_; }

 private:
  QTimer timer_;
  Clock::time_point last_{};
  std::vector<double> lateness_ms_;
};

struct Phase {
  const char* name;
  bool show_in_output;
  bool synchronously;
  bool sessions_view = false;  // the Sessions window open, following the session
};

struct PhaseResult {
  bool ok = false;
  std::string error;
  double mib_per_second = 0;
  double late_p50_ms = 0;
  double late_p99_ms = 0;
  double late_max_ms = 0;
  long peak_rss_kib = 0;
  long rss_before_clear_kib = 0;
  long rss_after_clear_kib = 0;
  double stop_seconds = 0;  // last byte to "[Stopped]"
  bool stopped_title = false;
};

// One Start, transfer, Stop on `window`, the GUI thread serving events all
// the while.
PhaseResult RunPhase(MainWindow& window, const Phase& phase, bool upload, std::uint64_t bytes) {
  PhaseResult result;
  TemplateDialog& dialog = QtDialogOf(*window.dialog());
  dialog.CheckBox(kShowInOutputBox)->setChecked(phase.show_in_output);
  dialog.CheckBox(kLogSynchronouslyBox)->setChecked(phase.synchronously);
  dialog.SendCommand(kClearButton);
  QApplication::processEvents();
  ResetPeakMemory();
  dialog.SendCommand(kStartButton);
  const int port = window.listener().BoundPort();
  if (!window.listener().IsRunning() || port == 0) {
    result.error = "the window did not start forwarding";
    return result;
  }

  // The Sessions window, when shown, follows the newest session as a user
  // watching it would.
  SessionsWindow* sessions = nullptr;
  if (phase.sessions_view) {
    dialog.SendCommand(kSessionsCommand);
    sessions = QtSessionsWindowOf(window.sessions_window());
  } else if (window.sessions_window() != nullptr) {
    window.sessions_window()->Hide();
  }
  QTimer follow;
  if (sessions != nullptr) {
    QObject::connect(&follow, &QTimer::timeout, [sessions] {
      const int rows = sessions->session_model()->rowCount();
      if (rows == 0) return;
      const SessionId newest = sessions->session_model()->SessionAt(rows - 1)->id;
      if (sessions->selected_session() != newest) sessions->SelectSession(newest);
    });
    follow.start(200);
  }

  LatencyProbe probe;
  QEventLoop loop;
  BulkResult transfer;
  Clock::time_point last_byte;
  std::thread client([&] {
    transfer = upload ? RunUpload(port, 1, bytes) : RunDownload(port, 1, bytes);
    last_byte = Clock::now();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  client.join();

  dialog.SendCommand(kStopButton);
  result.stop_seconds = Seconds(Clock::now() - last_byte);
  result.stopped_title = dialog.windowTitle().startsWith("[Stopped]");
  // Let the pane show what it still holds, then measure what Clear gives back.
  QElapsedTimer settle;
  settle.start();
  while (QtPaneOf(window.output_pane())->queued_chars() > 0 && settle.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  result.peak_rss_kib = Usage(true);
  result.rss_before_clear_kib = Usage(false);
  dialog.SendCommand(kClearButton);
  QApplication::processEvents();
  result.rss_after_clear_kib = Usage(false);

  result.ok = transfer.ok;
  result.error = transfer.error;
  result.mib_per_second = transfer.MiBPerSecond();
  result.late_p50_ms = Percentile(probe.lateness_ms(), 50);
  result.late_p99_ms = Percentile(probe.lateness_ms(), 99);
  result.late_max_ms = Percentile(probe.lateness_ms(), 100);
  return result;
}

// The Sessions window's models over a store filled directly (no network):
// how long the session list takes to take in many sessions, and how a large
// session loads and is searched in the conversation view.
void MeasureSessionsView(int sessions, std::uint64_t big_mib) {
  auto store = std::make_shared<CaptureStore>(
      std::max<std::uint64_t>(CaptureStore::kDefaultLimit, (big_mib + 64) << 20));
  const EventTime now = EventTime::Now();
  auto open = [&](SessionId id, uint16_t client_port) {
    SessionOpened opened;
    opened.session = id;
    opened.client = Endpoint::LoopbackIPv4(client_port);
    opened.listener = Endpoint::LoopbackIPv4(1999);
    opened.time = now;
    store->OnOpened(opened);
    SessionConnected connected;
    connected.session = id;
    connected.destination = Endpoint::LoopbackIPv4(2007);
    connected.time = now;
    store->OnConnected(connected);
  };
  auto send = [&](SessionId id, Direction direction, const std::string& bytes) {
    SessionChunk chunk;
    chunk.session = id;
    chunk.direction = direction;
    chunk.time = now;
    chunk.data = bytes.data();
    chunk.size = bytes.size();
    store->OnChunk(chunk);
  };
  for (int i = 1; i <= sessions; ++i) {
    const SessionId id = static_cast<SessionId>(i);
    open(id, static_cast<uint16_t>(10000 + i % 50000));
    send(id, Direction::kClientToServer, "GET /item/" + std::to_string(i) + " HTTP/1.1\r\n\r\n");
    if (i % 3 != 0) {
      SessionClosed closed;
      closed.session = id;
      closed.time = now;
      store->OnClosed(closed);
    }
  }
  SessionsWindow window(&DesktopFileChoosers());
  QElapsedTimer timer;
  timer.start();
  window.SetStore(store);
  const double list_ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;

  // One big session of text lines, in 16 KiB chunks both ways.
  const SessionId big = static_cast<SessionId>(sessions + 1);
  open(big, 9);
  std::string chunk;
  while (chunk.size() < 16384) {
    chunk += "line of text in a large conversation, at " + std::to_string(chunk.size()) + "\n";
  }
  chunk.resize(16384);
  const std::uint64_t chunks = (big_mib << 20) / chunk.size();
  for (std::uint64_t i = 0; i < chunks; ++i) {
    send(big, i % 2 ? Direction::kServerToClient : Direction::kClientToServer, chunk);
  }
  const std::string needle = "needle at the very end";
  send(big, Direction::kServerToClient, needle);
  window.Refresh();
  timer.restart();
  window.SelectSession(big);
  const double first_page_ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  double longest_refresh_ms = 0;
  timer.restart();
  int refreshes = 0;
  while (window.conversation_model()->Load(std::chrono::milliseconds(0)) || refreshes == 0) {
    QElapsedTimer one;
    one.start();
    window.Refresh();
    longest_refresh_ms =
        std::max(longest_refresh_ms, static_cast<double>(one.nsecsElapsed()) / 1e6);
    ++refreshes;
  }
  const double all_seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
  timer.restart();
  const auto match = window.conversation_model()->Find(needle, std::nullopt, true);
  const double find_ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  std::printf(
      "Sessions window: %d sessions listed in %.1f ms; a %llu MiB session: first page "
      "%.1f ms, laid out in %.2f s over %d refreshes (longest %.1f ms), %d lines; find "
      "to its end %.1f ms (%s)\n",
      sessions, list_ms, static_cast<unsigned long long>(big_mib), first_page_ms, all_seconds,
      refreshes, longest_refresh_ms, window.conversation_model()->rowCount(), find_ms,
      match ? "found" : "NOT FOUND");
}

void Print(const char* direction, const Phase& phase, const PhaseResult& r, double unlogged) {
  if (!r.ok) {
    std::printf("%-4s %-22s FAILED: %s\n", direction, phase.name, r.error.c_str());
    return;
  }
  std::printf("%-4s %-22s %9.1f %6.3f %8.1f %8.1f %8.1f %9ld %9ld %9ld %7.2f%s\n", direction,
              phase.name, r.mib_per_second, unlogged > 0 ? r.mib_per_second / unlogged : 0,
              r.late_p50_ms, r.late_p99_ms, r.late_max_ms, r.peak_rss_kib / 1024,
              r.rss_before_clear_kib / 1024, r.rss_after_clear_kib / 1024, r.stop_seconds,
              r.stopped_title ? "" : " (title not [Stopped])");
}

int Main(int argc, char** argv) {
  QApplication app(argc, argv);
  Flags flags;
  std::string error;
  double port_flag = 0, mib = 1024, rss_gib = 0, sessions_flag = 5000, big_mib = 200;
  if (!flags.Parse(argc, argv, 1, &error) || !flags.Number("port", 0, &port_flag, &error) ||
      !flags.Number("mib", 1024, &mib, &error) || !flags.Number("rss-gib", 0, &rss_gib, &error) ||
      !flags.Number("sessions", 5000, &sessions_flag, &error) ||
      !flags.Number("big-session-mib", 200, &big_mib, &error)) {
    std::fprintf(stderr, "portwick_gui_bench: %s\n", error.c_str());
    return 2;
  }

  LoadServer server;
  std::thread server_thread;
  int server_port = static_cast<int>(port_flag);
  if (server_port == 0) {
    if (!server.Open(0, &error)) {
      std::fprintf(stderr, "portwick_gui_bench: %s\n", error.c_str());
      return 1;
    }
    server_port = server.port();
    server_thread = std::thread([&server] { server.Run(); });
  }

  ProxySettings settings;
  settings.local_port = 0;
  settings.remote_host = "127.0.0.1";
  settings.remote_port = server_port;
  const std::uint64_t bytes = static_cast<std::uint64_t>(mib * 1024 * 1024);

  // What the capture store costs: the window keeps one by default, so the
  // same transfers first go through a window that captures nothing.
  double without_capture[2] = {0, 0};
  if (!flags.Has("rss-only")) {
    ProxySettings no_capture = settings;
    no_capture.capture_limit = 0;
    MainWindow bare(no_capture);
    if (!bare.Create()) return 1;
    bare.Show();
    const Phase unlogged{"unlogged", false, false};
    for (const bool upload : {true, false}) {
      const PhaseResult r = RunPhase(bare, unlogged, upload, bytes);
      if (r.ok) without_capture[upload ? 0 : 1] = r.mib_per_second;
    }
  }

  MainWindow window(settings);
  if (!window.Create()) return 1;
  window.Show();
  QApplication::processEvents();

  const Phase phases[] = {
      {"unlogged", false, false},
      {"pane (queued)", true, false},
      {"pane (synchronous)", true, true},
      {"pane, Sessions window", true, false, true},
  };
  std::printf(
      "GUI bench: %.0f MiB per transfer, one connection; up = client to server (binary), "
      "down = server to client (text without line breaks)\n",
      mib);
  std::printf("%-4s %-22s %9s %6s %8s %8s %8s %9s %9s %9s %7s\n", "dir", "shown", "MiB/s", "ratio",
              "late p50", "late p99", "late max", "peak MiB", "RSS MiB", "cleared", "stop s");
  double with_capture[2] = {0, 0};
  for (bool upload : {true, false}) {
    if (flags.Has("rss-only")) break;
    double unlogged = 0;
    for (const Phase& phase : phases) {
      const PhaseResult r = RunPhase(window, phase, upload, bytes);
      if (!phase.show_in_output && r.ok) unlogged = r.mib_per_second;
      Print(upload ? "up" : "down", phase, r, unlogged);
      std::fflush(stdout);
    }
    with_capture[upload ? 0 : 1] = unlogged;
  }
  if (!flags.Has("rss-only")) {
    for (const int i : {0, 1}) {
      std::printf(
          "capture store (default limit) %s: %.1f MiB/s, without it %.1f MiB/s, ratio %.3f "
          "(goal >= 0.8)\n",
          i == 0 ? "up" : "down", with_capture[i], without_capture[i],
          without_capture[i] > 0 ? with_capture[i] / without_capture[i] : 0);
    }
  }
  if (!flags.Has("rss-only")) {
    MeasureSessionsView(static_cast<int>(sessions_flag), static_cast<std::uint64_t>(big_mib));
  }
  if (rss_gib > 0) {
    const std::string shown = flags.String("rss-shown", "everything");
    const Phase everything{shown == "pane"       ? "pane shown"
                           : shown == "sessions" ? "Sessions window shown"
                           : shown == "nothing"  ? "nothing shown"
                                                 : "everything shown",
                           shown == "pane" || shown == "everything", false,
                           shown == "sessions" || shown == "everything"};
    const PhaseResult r =
        RunPhase(window, everything, false, static_cast<std::uint64_t>(rss_gib * 1024) << 20);
    std::printf("%.0f GiB with %s: ", rss_gib, everything.name);
    Print("down", everything, r, 0);
  }
  std::printf(
      "late: how much later than 10 ms a repeating GUI timer fired; ratio: against "
      "unlogged; stop s: last byte to [Stopped]\n");

  if (server_thread.joinable()) {
    server.Shutdown();
    server_thread.join();
  }
  return 0;
}

}  // namespace
}  // namespace portwick::bench

int main(int argc, char** argv) { return portwick::bench::Main(argc, argv); }
