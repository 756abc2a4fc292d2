#include "app/ResumeRecord.h"

#include <QCryptographicHash>
#include <QList>

#include "settings/QnSharedFolders.h"

namespace {

const QString kSection = QStringLiteral("SOFTWARE\\QUARNELL\\OMBREVIA\\DOWNLOAD");
// One key per package file, named by a digest of its path.
QString keyFor(const QString& path) {
  return QStringLiteral("Resume-") +
         QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
}
constexpr char kFormat[] = "1";

QByteArray encoded(const QByteArray& text) { return text.toPercentEncoding(); }
QByteArray decoded(const QByteArray& text) { return QByteArray::fromPercentEncoding(text); }

std::optional<qint64> count(const QByteArray& text) {
  bool ok = false;
  const qint64 value = text.toLongLong(&ok);
  return ok && value >= 0 ? std::optional(value) : std::nullopt;
}

}  // namespace

bool ResumeRecord::SamePackage(const ResumeRecord& other) const {
  return Path == other.Path && Url == other.Url && Length == other.Length && !Validator.isEmpty() &&
         Validator == other.Validator;
}

std::optional<ResumeRecord> LoadResumeRecord(const QString& path) {
  if (!UserSettings) return std::nullopt;
  const QList<QByteArray> fields = UserSettings->LeggiValore(kSection, keyFor(path), {}).toLatin1().split('|');
  if (fields.size() != 6 || fields[0] != kFormat) return std::nullopt;
  const std::optional<qint64> good = count(fields[1]);
  const std::optional<qint64> length = count(fields[2]);
  if (!good || !length || *good > *length) return std::nullopt;
  ResumeRecord record;
  record.Good = *good;
  record.Length = *length;
  record.Validator = decoded(fields[3]);
  record.Url = QString::fromUtf8(decoded(fields[4]));
  record.Path = QString::fromUtf8(decoded(fields[5]));
  if (record.Path != path) return std::nullopt;
  return record;
}

void SaveResumeRecord(const ResumeRecord& record) {
  if (!UserSettings) return;
  const QByteArray value = QByteArray(kFormat) + '|' + QByteArray::number(record.Good) + '|' +
                           QByteArray::number(record.Length) + '|' + encoded(record.Validator) + '|' +
                           encoded(record.Url.toUtf8()) + '|' + encoded(record.Path.toUtf8());
  UserSettings->ScriviValore(kSection, keyFor(record.Path), QString::fromLatin1(value));
}

void ForgetResumeRecord(const QString& path) {
  if (UserSettings) UserSettings->EliminaChiave(kSection, keyFor(path));
}
