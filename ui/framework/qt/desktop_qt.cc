// The desktop under Qt: browser, beep, pending events, the clipboard.
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "ui/framework/desktop.h"

namespace portwick {

bool OpenUrlInBrowser(const std::string& address) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(address), QUrl::StrictMode));
}

void Beep() { QApplication::beep(); }

void ServePendingEvents() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
}

void QuitApplication(int exit_code) { QCoreApplication::exit(exit_code); }

NativeWindow ActiveWindow() { return QApplication::activeWindow(); }

void SetClipboardText(const std::string& text) {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) {
    clipboard->setText(QString::fromStdString(text));
  }
}

}  // namespace portwick
