#include "platform/os/Environment.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QSysInfo>

#include "platform/base/Paths.h"

Environment& Environment::Default() {
  static SystemEnvironment system;
  return system;
}

QString SystemEnvironment::SystemRoot() const {
  const QString root = qEnvironmentVariable("QUARNELL_ROOT");
  return root.isEmpty() ? QStringLiteral("/opt/") : paths::IncludeTrailingPathDelimiter(root);
}

QString SystemEnvironment::DocumentsFolder() const {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString SystemEnvironment::ExecutablePath() const { return QCoreApplication::applicationFilePath(); }

bool SystemEnvironment::Is64BitSystem() const {
  return QSysInfo::currentCpuArchitecture().contains(QLatin1String("64"));
}
