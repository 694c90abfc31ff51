// Start-up's toolkit under Qt: the QApplication and the help box.
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <optional>

#include "app/gui_startup.h"
#include "app/gui_toolkit.h"
#include "run/application_title.h"

namespace portwick {

namespace {

class QtSession : public GuiToolkitSession {
 public:
  explicit QtSession(const std::string& program_path) : program_(program_path) {
    if (QCoreApplication::instance() != nullptr) return;
    // Fed with argv[0] only, so Qt takes no options.
    application_.emplace(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
    // The installed desktop entry's name: lets the desktop match the window
    // to its entry and icon (the application id on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.portwick.Portwick"));
  }

 private:
  std::string program_;
  int argc_ = 1;
  char* argv_[2] = {program_.data(), nullptr};
  std::optional<QApplication> application_;
};

}  // namespace

std::unique_ptr<GuiToolkitSession> StartGuiToolkit(const std::string& program_path) {
  return std::make_unique<QtSession>(program_path.empty() ? std::string(kApplicationTitle)
                                                          : program_path);
}

std::string HelpBoxMarkup(const std::string& text) {
  // The help's columns are made with tabs (stops every 8 characters) and
  // spaces; laid out in a fixed-width font without wrapping they line up as
  // in a terminal.
  std::string expanded;
  size_t column = 0;
  for (const char c : text) {
    if (c == '\t') {
      do {
        expanded += ' ';
      } while (++column % 8 != 0);
      continue;
    }
    expanded += c;
    column = c == '\n' ? 0 : column + 1;
  }
  return "<pre>" + QString::fromStdString(expanded).toHtmlEscaped().toStdString() + "</pre>";
}

void ShowToolkitHelpBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle),
                  QString::fromStdString(HelpBoxMarkup(text)), QMessageBox::Ok);
  box.setTextFormat(Qt::RichText);
  box.exec();
}

}  // namespace portwick
