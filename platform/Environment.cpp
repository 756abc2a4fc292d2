#include "platform/Environment.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QSysInfo>

#include "platform/Paths.h"

namespace {
const Environment* installedEnvironment = nullptr;
}

const Environment& Environment::Current() {
  static const SystemEnvironment system;
  return installedEnvironment ? *installedEnvironment : system;
}

void Environment::SetCurrent(const Environment* environment) { installedEnvironment = environment; }

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
