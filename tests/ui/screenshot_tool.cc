// Writes pictures of the main window (first size, and 200 pixels wider) and
// of the About box into the folder given as the only argument.
#include <QtCore/QDir>
#include <QtCore/QString>
#include <QtGui/QPixmap>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <cstdio>

#include "app/proxy_settings.h"
#include "ui/about_box.h"
#include "ui/framework/template_dialog.h"
#include "ui/main_window.h"

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
  portwick::TemplateDialog* dialog = window.dialog();
  window.OnIdle();  // show the first control states
  window.Show();
  if (!QTest::qWaitForWindowExposed(dialog)) return 1;
  bool ok = Save(dialog, dir, "main_window.png");
  dialog->resize(dialog->width() + 200, dialog->height());
  QApplication::processEvents();
  ok = Save(dialog, dir, "main_window_wide.png") && ok;

  portwick::AboutBox about(dialog, services);
  about.dialog().show();
  if (!QTest::qWaitForWindowExposed(&about.dialog())) return 1;
  ok = Save(&about.dialog(), dir, "about_box.png") && ok;
  return ok ? 0 : 1;
}
