// The package is checked before anything opens or starts it: the service's SHA-256 when it
// gave one, and the maker's signature when a public key is in force.
#include <QFile>

#include "app/DownloadServerSetting.h"
#include "app/OmbreviaMainForm.h"
#include "app/PackageSignature.h"
#include "platform/base/Dialogs.h"
#include "platform/ui/Application.h"

namespace {

constexpr qint64 kMaxSignatureBytes = 64 * 1024;  // a .minisig is a few hundred bytes
constexpr int kOk = 200;

}  // namespace

bool TMainFormDownloadSetup::packageTrusted(const QString& targetPath) {
  const QString refusal = packageRefusal(targetPath);
  if (refusal.isEmpty()) return true;
  QFile::remove(targetPath);  // a package that is not the maker's must not be left to be opened
  if (Application::Instance()->Terminated()) return false;  // the user closed the window meanwhile
  ShowMessage(QStringLiteral("The package \"%1\" was refused: %2.").arg(FDownloadFileName, refusal));
  return false;
}

QString TMainFormDownloadSetup::packageRefusal(const QString& targetPath) {
  if (!FDownloadSha256.isEmpty()) {
    const QString mismatch = PackageSha256Mismatch(targetPath, FDownloadSha256);
    if (!mismatch.isEmpty()) return mismatch;
  }
  const QString keyText = PackagePublicKeySetting();
  if (keyText.isEmpty()) return {};  // no key in force: packages are not signed
  QString reason;
  const auto key = ParsePackagePublicKey(keyText.toLatin1(), reason);
  if (!key) return QStringLiteral("the package public key in force cannot be used (%1)").arg(reason);
  QString failure;
  const QByteArray signatureFile = fetchSignature(failure);
  if (!failure.isEmpty()) return failure;
  const auto signature = ParsePackageSignature(signatureFile, reason);
  if (!signature) return reason;
  return PackageSignatureMismatch(targetPath, *signature, *key);
}

QByteArray TMainFormDownloadSetup::fetchSignature(QString& failure) {
  const QString url = FDownloadUrl + QStringLiteral(".minisig");
  FFetchingSignature = true;
  struct FetchingReset {
    bool& flag;
    ~FetchingReset() { flag = false; }
  } fetchingReset{FFetchingSignature};
  IdHTTP1->SetMaxBodySize(kMaxSignatureBytes);
  QByteArray bytes;
  try {
    IdHTTP1->Get(url, {}, bytes);
  } catch (const std::exception& error) {
    failure =
        QStringLiteral("its signature could not be fetched from %1 (%2)").arg(url, QString::fromUtf8(error.what()));
    return {};
  }
  if (IdHTTP1->ResponseCode() != kOk)
    failure =
        QStringLiteral("its signature could not be fetched from %1 (status %2)").arg(url).arg(IdHTTP1->ResponseCode());
  return bytes;
}
