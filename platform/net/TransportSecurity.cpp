#include "platform/net/TransportSecurity.h"

#include <curl/curl.h>

#include <QFile>

#include "platform/base/Exception.h"

namespace {

constexpr qint64 kMaxCaFileBytes = 16 * 1024 * 1024;  // far above any real bundle

QByteArray readWhole(const QString& path, qint64 limit) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(limit);
}

// Where libcurl's build looks for the system's bundle; asked once of a scratch handle.
QString systemCaBundlePath() {
  static const QString path = [] {
    CURL* probe = curl_easy_init();
    char* found = nullptr;
    if (probe) curl_easy_getinfo(probe, CURLINFO_CAINFO, &found);
    QString result = found ? QString::fromLocal8Bit(found) : QString();
    if (probe) curl_easy_cleanup(probe);
    return result;
  }();
  return path;
}

}  // namespace

QByteArray CaBundleWith(const QString& extraCaFile) {
  const QByteArray extra = readWhole(extraCaFile, kMaxCaFileBytes);
  if (!extra.contains("-----BEGIN CERTIFICATE-----"))
    throw Exception(
        QStringLiteral("The CA certificates file \"%1\" cannot be read or holds no PEM certificate.").arg(extraCaFile));
  QByteArray bundle = readWhole(systemCaBundlePath(), kMaxCaFileBytes);
  if (!bundle.isEmpty() && !bundle.endsWith('\n')) bundle += '\n';
  return bundle + extra;
}

void ApplyExtraCaBundle(CURL* easy, const QByteArray& bundle) {
  // With OpenSSL a CA file given to libcurl replaces the default bundle, so the extra CAs
  // travel in one blob together with the system's.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (bundle.isEmpty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, nullptr);
    return;
  }
  curl_blob blob{const_cast<char*>(bundle.constData()), static_cast<size_t>(bundle.size()), CURL_BLOB_COPY};
  curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}

TransportSecurityError SecureConnectionRefused(const QString& host, const QString& reason) {
  return TransportSecurityError(QStringLiteral("The secure connection to %1 was refused: %2").arg(host, reason));
}
