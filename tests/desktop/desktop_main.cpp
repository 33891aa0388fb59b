// Entry of the desktop's GUI tests: a Qt application on the offscreen platform (set here when the
// environment does not choose one, so the tests also run where there is no display), then the
// GoogleTest runner.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
