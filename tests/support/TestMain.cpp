// Every test executable runs with one offscreen toolkit instance, and a runtime folder of
// its own when the session gives none (locks and session tables live there).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir runtimeFolder;  // made owner-only, as a session's runtime folder is
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeFolder.isValid())
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder.path()));
  QApplication toolkit(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
