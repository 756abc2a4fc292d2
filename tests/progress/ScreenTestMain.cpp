// The on-screen tests of the progress window run on a real X display: an Xvfb of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <thread>

int main(int argc, char** argv) {
  QProcess xvfb;
  const QString display = QStringLiteral(":%1").arg(90 + QCoreApplication::applicationPid() % 9);
  xvfb.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x800x24"),
                                      QStringLiteral("-nolisten"), QStringLiteral("tcp")});
  if (!xvfb.waitForStarted(10000)) return 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  qputenv("DISPLAY", display.toUtf8());
  qputenv("QT_QPA_PLATFORM", "xcb");
  int result;
  {
    QApplication toolkit(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  xvfb.terminate();
  xvfb.waitForFinished(5000);
  return result;
}
