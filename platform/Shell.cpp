#include "platform/Shell.h"

#include <QFileInfo>
#include <QProcess>

namespace {
Shell* installedShell = nullptr;
}

Shell& Shell::Current() {
  static DesktopShell desktop;
  return installedShell ? *installedShell : desktop;
}

void Shell::SetCurrent(Shell* shell) { installedShell = shell; }

void DesktopShell::Open(const QString& path) {
  const QFileInfo info(path);
  if (info.isFile() && info.isExecutable())
    QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath());
  else
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}
