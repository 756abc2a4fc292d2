// The on-screen tests of the progress window run on a real X display: an Xvfb of their own,
// on a display number that Xvfb picks among the free ones and reports once it is ready.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <cstdio>

int main(int argc, char** argv) {
  QProcess xvfb;
  xvfb.setProcessChannelMode(QProcess::SeparateChannels);
  xvfb.start(QStringLiteral("Xvfb"),
             {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
              QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
  QByteArray number;
  while (!number.endsWith('\n') && xvfb.waitForReadyRead(10000)) number += xvfb.readAllStandardOutput();
  if (number.trimmed().isEmpty()) {
    std::fprintf(stderr, "Xvfb did not start: %s\n", xvfb.readAllStandardError().constData());
    return 1;
  }
  qputenv("DISPLAY", ":" + number.trimmed());
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
