#include "ui/about_box.h"

#include <gtest/gtest.h>

#include <QtCore/QTimer>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <string>
#include <vector>

#include "counting_module.h"
#include "ui/framework/qt/centering.h"
#include "ui/framework/qt/dialog_units.h"
#include "ui/framework/qt/hyper_link_static.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/version_reader.h"

namespace portwick {
namespace {

// Services that record every address opened and answer with `open_result`.
struct Recorder {
  std::vector<std::string> opened;
  bool open_result = true;
  ProductVersionCache cache;

  UiServices Services(const ResourceModule* module = &ProgramModule()) {
    UiServices services;
    services.open_url = [this](const std::string& address) {
      opened.push_back(address);
      return open_result;
    };
    services.module = module;
    services.version_cache = &cache;
    return services;
  }
};

// The Qt dialog behind the box, and its link (the label it replaced).
TemplateDialog& QtBox(const AboutBox& box) { return QtDialogOf(box.dialog()); }
HyperLinkStatic* LinkOf(const AboutBox& box) {
  return qobject_cast<HyperLinkStatic*>(QtBox(box).Control(kAboutPublisherLink));
}

QString VersionLabel(const AboutBox& box) { return QtBox(box).Label(kAboutVersionLabel)->text(); }

TEST(AboutBoxTest, ControlsStandWhereTheTemplatePutsThem) {
  Recorder recorder;
  AboutBox box(nullptr, recorder.Services());
  TemplateDialog& d = QtBox(box);
  const DialogBaseUnits& u = d.base_units();
  EXPECT_EQ(d.windowTitle(), "About");
  EXPECT_EQ(d.size(), QSize(DialogUnitsToPixelsX(227, u), DialogUnitsToPixelsY(81, u)));
  EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "a fixed frame";
  EXPECT_TRUE(d.isModal()) << "a modal box, also when shown without Run()";
  EXPECT_FALSE(d.windowFlags() & Qt::WindowMinMaxButtonsHint) << "no minimise or maximise boxes";

  QPushButton* ok = d.Button(kCommandOk);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->geometry(), DialogUnitsToPixels(170, 60, 50, 14, u));
  EXPECT_EQ(d.Label(kAboutVersionLabel)->geometry(), DialogUnitsToPixels(67, 18, 134, 11, u));
  ASSERT_NE(LinkOf(box), nullptr);
  EXPECT_EQ(LinkOf(box)->geometry(), DialogUnitsToPixels(115, 32, 89, 10, u));
  EXPECT_EQ(LinkOf(box)->text(), "Portwick Project");

  // The unnamed controls: icon, frame and copyright line.
  bool icon = false, copyright = false, frame = false;
  for (QLabel* label : d.client()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (!label->pixmap().isNull()) {
      icon = true;
      EXPECT_EQ(label->geometry(), DialogUnitsToPixels(19, 21, 20, 20, u));
    } else if (label->text() == "(c) 2026") {
      copyright = true;
      EXPECT_EQ(label->geometry(), DialogUnitsToPixels(69, 32, 45, 10, u));
      // The line fits its static without being cut or wrapped.
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
  }
  for (QGroupBox* group : d.client()->findChildren<QGroupBox*>()) {
    frame = true;
    EXPECT_EQ(group->title(), "");
    EXPECT_EQ(group->geometry(), DialogUnitsToPixels(49, 7, 171, 45, u));
  }
  EXPECT_TRUE(icon);
  EXPECT_TRUE(copyright);
  EXPECT_TRUE(frame);
}

TEST(AboutBoxTest, LabelShowsNameAndProductVersion) {
  Recorder recorder;
  AboutBox box(nullptr, recorder.Services());
  EXPECT_EQ(VersionLabel(box), "Portwick 1.7.0.0");

  // Without a version block the name stands alone.
  CountingModule none(nullptr);
  Recorder empty;
  AboutBox bare(nullptr, empty.Services(&none));
  EXPECT_EQ(VersionLabel(bare), "Portwick ");
}

TEST(AboutBoxTest, OpeningTwiceReadsTheVersionOnce) {
  VersionResource resource;
  resource.strings = {{"\\StringFileInfo\\000004B0\\ProductVersion", "2,0 ,1"}};
  CountingModule module(&resource);
  Recorder recorder;
  for (int i = 0; i < 2; ++i) {
    AboutBox box(nullptr, recorder.Services(&module));
    EXPECT_EQ(VersionLabel(box), "Portwick 2.0.1");
  }
  EXPECT_EQ(module.reads(), 1);
}

TEST(AboutBoxTest, LinkOpensTheAboutAddressAndTurnsVisitedOnSuccess) {
  Recorder recorder;
  {
    AboutBox box(nullptr, recorder.Services());
    HyperLinkStatic* link = LinkOf(box);
    EXPECT_EQ(link->toolTip(), "https://portwick.org/portwick/?from=about");
    QtBox(box).show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&QtBox(box)));
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    ASSERT_EQ(recorder.opened,
              std::vector<std::string>{"https://portwick.org/portwick/?from=about"});
    EXPECT_TRUE(link->visited());
    EXPECT_EQ(link->current_color(), link->visited_color());
  }
  // A new box starts unvisited; a failed open leaves it so.
  recorder.open_result = false;
  AboutBox again(nullptr, recorder.Services());
  EXPECT_FALSE(LinkOf(again)->visited());
  LinkOf(again)->Open();
  EXPECT_EQ(recorder.opened.size(), 2u);
  EXPECT_FALSE(LinkOf(again)->visited());
}

TEST(AboutBoxTest, CentredOverItsOwner) {
  QWidget owner;
  owner.setGeometry(200, 150, 700, 500);
  Recorder recorder;
  AboutBox box(&owner, recorder.Services());
  EXPECT_EQ(QtBox(box).pos(), CenteredPosition(owner.frameGeometry(), QtBox(box).size()));
  EXPECT_EQ(QtBox(box).parentWidget(), &owner);
}

TEST(AboutBoxTest, OkAndEscEndTheModalRun) {
  struct Case {
    const char* name;
    void (*close)(TemplateDialog&);
    int result;
  };
  const Case cases[] = {
      {"OK", [](TemplateDialog& d) { QTest::mouseClick(d.Button(kCommandOk), Qt::LeftButton); }, 1},
      {"Enter", [](TemplateDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, 1},
      {"Esc", [](TemplateDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2},
      {"close box", [](TemplateDialog& d) { d.close(); }, 2},
  };
  for (const Case& c : cases) {
    Recorder recorder;
    AboutBox box(nullptr, recorder.Services());
    bool was_modal = false;
    QTimer::singleShot(0, &QtBox(box), [&] {
      was_modal = QApplication::activeModalWidget() == &QtBox(box);
      c.close(QtBox(box));
    });
    // Ends a run that the close above failed to end, so the test cannot hang.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &QtBox(box), [&] { QtBox(box).done(-1); });
    guard.start(5000);
    EXPECT_EQ(box.Run(), c.result) << c.name;
    EXPECT_TRUE(was_modal) << c.name;
    EXPECT_TRUE(recorder.opened.empty());
  }
}

TEST(AboutBoxTest, PublisherMatchesTheVersionBlock) {
  std::string company;
  ASSERT_TRUE(
      ProgramVersionResource().QueryString("\\StringFileInfo\\040904B0\\CompanyName", &company));
  EXPECT_EQ(company, kPublisherName);
}

}  // namespace
}  // namespace portwick
