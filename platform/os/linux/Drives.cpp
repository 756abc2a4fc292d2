#include "platform/os/Drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

// The device of the mount with the longest mount point that holds `path`.
QString deviceHolding(const QString& path) {
  QFile mounts(QStringLiteral("/proc/self/mounts"));
  if (!mounts.open(QIODevice::ReadOnly)) return {};
  const QString target = QFileInfo(path).absoluteFilePath();
  QString device;
  qsizetype best = -1;
  QTextStream lines(&mounts);
  while (!lines.atEnd()) {
    const QStringList fields = lines.readLine().split(QLatin1Char(' '));
    if (fields.size() < 2) continue;
    QString point = fields[1];
    point.replace(QLatin1String("\\040"), QLatin1String(" "));
    const bool holds = target == point || target.startsWith(point.endsWith('/') ? point : point + '/');
    if (holds && point.size() > best) {
      best = point.size();
      device = fields[0];
    }
  }
  return device;
}

// The kernel's view: the mount's device, its whole disk, and that disk's sysfs flag.
class SysfsRemovableMedia final : public RemovableMedia {
 public:
  bool Holds(const QString& path) const override;
};

}  // namespace

RemovableMedia& RemovableMedia::Default() {
  static SysfsRemovableMedia sysfs;
  return sysfs;
}

bool IsOnRemovableDrive(const QString& path) { return RemovableMedia::Current().Holds(path); }

bool SysfsRemovableMedia::Holds(const QString& path) const {
  if (path.isEmpty()) return false;
  const QString device = QFileInfo(deviceHolding(path)).canonicalFilePath();
  if (!device.startsWith(QLatin1String("/dev/"))) return false;
  QString block = QFileInfo(QStringLiteral("/sys/class/block/") + device.mid(5)).canonicalFilePath();
  if (block.isEmpty()) return false;
  if (QFileInfo::exists(block + QStringLiteral("/partition"))) block = QFileInfo(block).absolutePath();
  QFile removable(block + QStringLiteral("/removable"));
  return removable.open(QIODevice::ReadOnly) && removable.readAll().trimmed() == "1";
}
