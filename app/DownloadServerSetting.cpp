#include "app/DownloadServerSetting.h"

#include "settings/QnSharedFolders.h"

QString DownloadServiceUrl() {
  QString base = CommonSettings ? CommonSettings->LeggiValore(kCommonSection, QStringLiteral("DownloadServer"), {})
                                : QString();
  if (base.isEmpty()) base = QStringLiteral(QUARNELL_DOWNLOAD_SERVER);
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  return base + QStringLiteral("/web_download/GetUrlDownload.php");
}
