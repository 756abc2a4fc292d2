#include "app/DownloadServerSetting.h"

#include <QFile>
#include <QTextStream>

#include "platform/Environment.h"
#include "platform/Paths.h"

namespace {

const QString kCommonSection = QStringLiteral("SOFTWARE\\QUARNELL\\COMMON");
const QString kServerKey = QStringLiteral("DownloadServer");

// Reads one key of the common settings file; sections and keys match without regard to case.
QString readCommonSetting(const QString& key) {
  QFile file(paths::IncludeTrailingPathDelimiter(Environment::Current().SystemRoot()) +
             QStringLiteral("Quarnell/Common/qngcommon.ini"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QTextStream lines(&file);
  bool inSection = false;
  while (!lines.atEnd()) {
    const QString line = lines.readLine().trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      inSection = line.mid(1, line.size() - 2).trimmed().compare(kCommonSection, Qt::CaseInsensitive) == 0;
      continue;
    }
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (inSection && equals > 0 && line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
      return line.mid(equals + 1).trimmed();
  }
  return {};
}

}  // namespace

QString DownloadServiceUrl() {
  QString base = readCommonSetting(kServerKey);
  if (base.isEmpty()) base = QStringLiteral(QUARNELL_DOWNLOAD_SERVER);
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  return base + QStringLiteral("/web_download/GetUrlDownload.php");
}
