#include "app/DownloadServerSetting.h"

#include <algorithm>

#include "settings/QnSharedFolders.h"

namespace {

QString commonSetting(const QString& name) {
  return CommonSettings ? CommonSettings->LeggiValore(kCommonSection, name, {}).trimmed() : QString();
}

}  // namespace

QString DownloadServiceUrl() {
  QString base = commonSetting(QStringLiteral("DownloadServer"));
  if (base.isEmpty()) base = QStringLiteral(QUARNELL_DOWNLOAD_SERVER);
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  return base + QStringLiteral("/web_download/GetUrlDownload.php");
}

QString CaCertificatesSetting() { return commonSetting(QStringLiteral("CaCertificates")); }

QString PackagePublicKeySetting() {
  const QString key = commonSetting(QStringLiteral("PackagePublicKey"));
  return key.isEmpty() ? QStringLiteral(QUARNELL_PACKAGE_PUBLIC_KEY) : key;
}

int DownloadConnectionsSetting() {
  constexpr int kMostConnections = 16;
  bool ok = false;
  const int connections = commonSetting(QStringLiteral("DownloadConnections")).toInt(&ok);
  return ok && connections >= 1 ? std::min(connections, kMostConnections) : kDefaultDownloadConnections;
}
