// Entry point of the GUI suites: a QApplication on the offscreen platform
// (unless the environment names another) for the whole run.
#include <gtest/gtest.h>

#include <QtCore/QStandardPaths>
#include <QtWidgets/QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // Settings the windows keep (the Sessions window's geometry) go to a test
  // folder, not the user's.
  QStandardPaths::setTestModeEnabled(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
