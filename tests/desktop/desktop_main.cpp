// Entry of the desktop's GUI tests: a Qt application on the offscreen platform (set here when the
// environment does not choose one, so the tests also run where there is no display), then the
// GoogleTest runner.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <unistd.h>

#include "desktop/ClerkWords.h"
#include "desktop/LayoutStore.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // As the desktop does: Qt's own texts in Brazilian Portuguese.
  desktop::ClerkWords::InstallQtTranslation(app);
  // The remembered layouts go to a file of this run, never to the user's own settings.
  const QString layout = QDir::temp().filePath(QStringLiteral("pdi-desktop-tests-layout-%1.ini").arg(::getpid()));
  QFile::remove(layout);
  desktop::LayoutStore::SetUserFile(layout);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  QFile::remove(layout);
  return rc;
}
