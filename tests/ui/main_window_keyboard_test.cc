// The main window from the keyboard alone: Alt with the first letter of a
// menu opens it (a hidden control's mnemonic takes nothing away), and every
// label's mnemonic reaches the control it names, the output pane included.
#include <QtTest/qtestspontaneevent.h>

#include <QtGui/QKeyEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

#include "main_window_fixture.h"
#include "serve_events_until.h"
#include "ui/framework/qt/output_pane_widget.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"
#include "ui/qt/sessions_window.h"

namespace portwick {
namespace {

class MainWindowKeyboardTest : public MainWindowTest {
 protected:
  TemplateDialog& Shown() {
    ProxySettings settings;
    settings.log_file_name = "traffic.log";  // File Name enabled
    TemplateDialog& d = Open(settings);
    window_->OnIdle();
    window_->Show();
    QApplication::setActiveWindow(&d);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.Edit(kLocalPortField)->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.Edit(kLocalPortField)->hasFocus(); }, 2000));
    return d;
  }

  // The drop-down menu that is open now, if any.
  static QMenu* OpenMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }
};

TEST_F(MainWindowKeyboardTest, AltWithAMenusFirstLetterOpensThatMenu) {
  TemplateDialog& d = Shown();
  struct Case {
    Qt::Key key;
    QString menu;
  };
  for (const Case& c :
       {Case{Qt::Key_A, "Action"}, Case{Qt::Key_V, "View"}, Case{Qt::Key_H, "Help"}}) {
    SCOPED_TRACE(c.menu.toStdString());
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, c.key, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([] { return OpenMenu() != nullptr; }, 2000));
    EXPECT_EQ(OpenMenu()->title(), c.menu);
    EXPECT_EQ(d.Edit(kLocalPortField)->text(), "1999") << "nothing typed into the field";
    QTest::keyClick(OpenMenu(), Qt::Key_Escape);
    QTest::keyClick(d.menu_bar(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([] { return OpenMenu() == nullptr; }, 2000));
    d.Edit(kLocalPortField)->setFocus();
  }
}

TEST_F(MainWindowKeyboardTest, LabelMnemonicsFocusTheControlsTheyName) {
  TemplateDialog& d = Shown();
  struct Case {
    Qt::Key key;
    int control_id;
  };
  for (const Case& c : {Case{Qt::Key_O, kOutputPane}, Case{Qt::Key_R, kRemotePortField},
                        Case{Qt::Key_N, kFileNameField}, Case{Qt::Key_L, kLocalPortField}}) {
    SCOPED_TRACE(c.control_id);
    QTest::keyClick(QApplication::focusWidget(), c.key, Qt::AltModifier);
    ServeEventsUntil([&] { return QApplication::focusWidget() == d.Control(c.control_id); }, 2000);
    EXPECT_EQ(QApplication::focusWidget(), d.Control(c.control_id));
  }
  EXPECT_EQ(d.Control(kOutputPane), QtPaneOf(window_->output_pane()));
  EXPECT_EQ(d.Edit(kLocalPortField)->text(), "1999");
  EXPECT_EQ(QtPaneOf(window_->output_pane())->toPlainText(), "") << "nothing typed into the pane";
}

}  // namespace
}  // namespace portwick

namespace portwick {
namespace {

TEST_F(MainWindowKeyboardTest, CtrlLOpensTheSessionsWindowFromAnyField) {
  TemplateDialog& d = Shown();
  EXPECT_EQ(sessions(), nullptr) << "made on first use";
  QTest::keyClick(d.Edit(kLocalPortField), Qt::Key_L, Qt::ControlModifier);
  ASSERT_NE(sessions(), nullptr);
  EXPECT_TRUE(sessions()->isVisible());
  EXPECT_EQ(d.Edit(kLocalPortField)->text(), "1999");
  // Esc closes it again; the main window stays.
  SessionsWindow* shown = sessions();
  QApplication::setActiveWindow(shown);
  ServeEventsUntil([&] { return shown->isActiveWindow(); });
  QTest::keyClick(shown->filter_box(), Qt::Key_Escape);
  EXPECT_FALSE(sessions()->isVisible());
  EXPECT_TRUE(d.isVisible());

  // Esc held down: it closes the Sessions window, and its repeats, which
  // reach the main window then active, don't end the program.
  QTest::keyClick(d.Edit(kLocalPortField), Qt::Key_L, Qt::ControlModifier);
  QApplication::setActiveWindow(shown);
  ServeEventsUntil([&] { return shown->isActiveWindow(); });
  const int code = RunWith([&] {
    QTest::keyPress(shown->filter_box(), Qt::Key_Escape);
    EXPECT_FALSE(shown->isVisible());
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(), true);
    QSpontaneKeyEvent::setSpontaneous(&repeat);
    qApp->notify(d.Edit(kLocalPortField), &repeat);  // as QTest does: stays spontaneous
    QTest::keyRelease(d.Edit(kLocalPortField), Qt::Key_Escape);
    loop_.PostQuit(0);
  });
  EXPECT_EQ(code, 0) << "2 when the repeat closed the main window";
  EXPECT_TRUE(d.isVisible());
}

}  // namespace
}  // namespace portwick
