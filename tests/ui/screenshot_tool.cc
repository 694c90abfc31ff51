// Writes pictures of the main window (first size, and 200 pixels wider), of
// the About box, of the Conditions dialog and of the Sessions window into the
// folder given as the only argument. The Sessions window shows real sessions relayed by a
// forwarding run to a small local server: an HTTP-like exchange (shown as text), a binary one
// (shown in hex) and a connect that the destination refused.
#include <sys/socket.h>

#include <QtCore/QDir>
#include <QtCore/QString>
#include <QtGui/QPixmap>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "capture/capture_store.h"
#include "run/forwarding_run.h"
#include "run/proxy_settings.h"
#include "test_server.h"
#include "ui/about_box.h"
#include "ui/conditions_dialog.h"
#include "ui/framework/file_choosers.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window.h"
#include "ui/qt/sessions_window.h"

namespace {

bool Save(QWidget* widget, const QDir& dir, const char* name) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  if (!widget->grab().save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

// Answers a request starting with "GET" as a web server would, anything
// else with a binary record: a length and the bytes reversed.
void Serve(int fd) {
  using portwick::testing::ReadExactly;
  const std::string request = ReadExactly(fd, 1, std::chrono::seconds(5)).data;
  std::string more = ReadExactly(fd, 4096, std::chrono::milliseconds(200)).data;
  const std::string all = request + more;
  std::string reply;
  if (all.rfind("GET", 0) == 0) {
    const std::string body =
        "<!doctype html>\n<title>Portwick</title>\n<p>Hello from the server.</p>\n";
    reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  } else {
    reply.push_back(static_cast<char>(all.size() >> 8));
    reply.push_back(static_cast<char>(all.size() & 0xff));
    reply.append(all.rbegin(), all.rend());
  }
  portwick::testing::SendBytes(fd, reply);
  ::shutdown(fd, SHUT_WR);
}

// One client session through the run: sends `request`, reads to the end.
void Exchange(int port, const std::string& request) {
  portwick::Socket client = portwick::testing::ConnectLoopback(port);
  if (!client.valid()) return;
  portwick::testing::SendBytes(client.fd(), request);
  ::shutdown(static_cast<int>(client.fd()), SHUT_WR);
  portwick::testing::ReadUntilEnd(client.fd(), std::chrono::seconds(5));
}

// Relays three sessions into `store`: text, binary, refused.
bool RelaySessions(const std::shared_ptr<portwick::CaptureStore>& store) {
  auto server = std::make_unique<portwick::testing::TestServer>(Serve);
  portwick::ForwardingRun run;
  portwick::RunSettings settings;
  settings.forwards = {
      {portwick::Endpoint::AnyIPv4(0), "127.0.0.1", static_cast<uint16_t>(server->port()), {}}};
  settings.observer = store;
  if (!run.Start(settings, nullptr, {}).ok()) return false;
  const int port = run.BoundPort();
  Exchange(port,
           "GET /index.html HTTP/1.1\r\nHost: localhost\r\nUser-Agent: demo/1.0\r\n"
           "Accept: text/html\r\n\r\n");
  Exchange(port, portwick::testing::PatternBytes(80, 7));
  server.reset();  // nobody listens there any more: the next connect is refused
  Exchange(port, "hello?");
  const bool done = portwick::testing::WaitUntil([&] {
    const std::vector<portwick::CapturedSession> sessions = store->Sessions();
    if (sessions.size() < 3) return false;
    for (const portwick::CapturedSession& session : sessions) {
      if (!session.ended()) return false;
    }
    return true;
  });
  run.Stop({});
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.exists() && !QDir().mkpath(dir.path())) return 1;

  portwick::UiServices services;
  services.open_url = [](const std::string&) { return false; };  // never a browser

  portwick::MainWindow window(portwick::ProxySettings{}, services);
  if (!window.Create()) return 1;
  portwick::TemplateDialog* dialog = portwick::QtDialogOf(window.dialog());
  window.OnIdle();  // show the first control states
  window.Show();
  if (!QTest::qWaitForWindowExposed(dialog)) return 1;
  bool ok = Save(dialog, dir, "main_window.png");
  dialog->resize(dialog->width() + 200, dialog->height());
  QApplication::processEvents();
  ok = Save(dialog, dir, "main_window_wide.png") && ok;

  portwick::AboutBox about(dialog->native_window(), services);
  portwick::TemplateDialog& about_dialog = portwick::QtDialogOf(about.dialog());
  about_dialog.show();
  if (!QTest::qWaitForWindowExposed(&about_dialog)) return 1;
  ok = Save(&about_dialog, dir, "about_box.png") && ok;
  about_dialog.hide();

  portwick::ConditionsForm form;
  for (const char* text :
       {"down:delay=100ms,jitter=10ms", "up:rate=64K", "down:cut=4K,end=reset"}) {
    form.conditions.push_back(*portwick::ParseCondition(text, nullptr));
  }
  form.limits.connect_timeout = std::chrono::seconds(5);
  portwick::ConditionsDialog conditions(dialog->native_window(), form);
  portwick::TemplateDialog& conditions_dialog = portwick::QtDialogOf(conditions.dialog());
  conditions_dialog.show();
  if (!QTest::qWaitForWindowExposed(&conditions_dialog)) return 1;
  ok = Save(&conditions_dialog, dir, "conditions_dialog.png") && ok;
  conditions_dialog.hide();

  auto store = std::make_shared<portwick::CaptureStore>();
  if (!RelaySessions(store)) {
    std::fprintf(stderr, "the sessions for the Sessions window did not complete\n");
    return 1;
  }
  portwick::SessionsWindow sessions(&portwick::DesktopFileChoosers());
  sessions.SetStore(store);
  sessions.resize(960, 620);
  sessions.show();
  if (!QTest::qWaitForWindowExposed(&sessions)) return 1;
  sessions.Refresh();
  sessions.SelectSession(1);
  sessions.Refresh();
  QApplication::processEvents();
  ok = Save(&sessions, dir, "sessions_text.png") && ok;
  sessions.SelectSession(2);
  sessions.SetHexMode(true);
  sessions.Refresh();
  QApplication::processEvents();
  ok = Save(&sessions, dir, "sessions_hex.png") && ok;
  return ok ? 0 : 1;
}
