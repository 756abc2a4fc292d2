#include "app/PackageSignature.h"

#include <sodium.h>

#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <algorithm>

namespace {

constexpr qsizetype kKeyIdBytes = 8;
constexpr qsizetype kAlgorithmBytes = 2;
constexpr qsizetype kMaxLineBytes = 8192;  // minisign's own comment limit is far below
constexpr qint64 kReadBlock = 1024 * 1024;

bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::optional<QByteArray> strictBase64(const QByteArray& text) {
  const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return std::nullopt;
  return decoded.decoded;
}

// A key ID as minisign prints it: the eight bytes as a little-endian number in hexadecimal.
QString keyIdText(const QByteArray& id) {
  QByteArray reversed = id;
  std::reverse(reversed.begin(), reversed.end());
  return QString::fromLatin1(reversed.toHex().toUpper());
}

// Splits on "\n", dropping a "\r" before it and empty lines at the end.
QList<QByteArray> linesOf(const QByteArray& bytes) {
  QList<QByteArray> lines;
  for (QByteArray line : bytes.split('\n')) {
    if (line.endsWith('\r')) line.chop(1);
    lines << line;
  }
  while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

bool verifies(const QByteArray& signature, const unsigned char* message, qsizetype size, const QByteArray& key) {
  return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()), message,
                                     static_cast<unsigned long long>(size),
                                     reinterpret_cast<const unsigned char*>(key.constData())) == 0;
}

// The BLAKE2b-512 hash of the file, read in blocks; nothing when it cannot be read.
std::optional<QByteArray> blake2bOf(QFile& file) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  QByteArray block(kReadBlock, Qt::Uninitialized);
  for (;;) {
    const qint64 got = file.read(block.data(), kReadBlock);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(block.constData()),
                              static_cast<unsigned long long>(got));
  }
  QByteArray hash(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
  crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(hash.data()), hash.size());
  return hash;
}

// Whether the file's bytes carry `signature`: its hash for "ED", the whole file (mapped, not
// read into memory) for "Ed". Nothing when the file cannot be read.
std::optional<bool> fileVerifies(const QString& path, const PackageSignature& signature, const QByteArray& key) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  if (signature.Prehashed) {
    const auto hash = blake2bOf(file);
    if (!hash) return std::nullopt;
    return verifies(signature.Signature, reinterpret_cast<const unsigned char*>(hash->constData()), hash->size(), key);
  }
  if (file.size() == 0) return verifies(signature.Signature, reinterpret_cast<const unsigned char*>(""), 0, key);
  const uchar* mapped = file.map(0, file.size());
  if (!mapped) return std::nullopt;
  const bool good = verifies(signature.Signature, mapped, file.size(), key);
  file.unmap(const_cast<uchar*>(mapped));
  return good;
}

}  // namespace

std::optional<PackagePublicKey> ParsePackagePublicKey(const QByteArray& text, QString& reason) {
  QByteArray keyLine;
  for (const QByteArray& line : linesOf(text.left(kMaxLineBytes * 2)))
    if (!line.trimmed().isEmpty() && !line.startsWith("untrusted comment:")) keyLine = line;
  const auto decoded = strictBase64(keyLine);
  if (keyLine.isEmpty() || !decoded) {
    reason = QStringLiteral("the public key is not base64 text");
    return std::nullopt;
  }
  if (decoded->size() != kAlgorithmBytes + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES || !decoded->startsWith("Ed")) {
    reason = QStringLiteral("the public key is not a minisign Ed25519 key");
    return std::nullopt;
  }
  return PackagePublicKey{decoded->mid(kAlgorithmBytes, kKeyIdBytes), decoded->mid(kAlgorithmBytes + kKeyIdBytes)};
}

std::optional<PackageSignature> ParsePackageSignature(const QByteArray& bytes, QString& reason) {
  const QList<QByteArray> lines = linesOf(bytes);
  auto malformed = [&reason](const QString& why) {
    reason = QStringLiteral("the signature file is malformed: ") + why;
    return std::nullopt;
  };
  if (lines.size() != 4) return malformed(QStringLiteral("it does not have four lines"));
  for (const QByteArray& line : lines)
    if (line.size() > kMaxLineBytes) return malformed(QStringLiteral("a line is too long"));
  if (!lines[0].startsWith("untrusted comment:")) return malformed(QStringLiteral("the first line is not a comment"));
  const auto signatureLine = strictBase64(lines[1]);
  if (!signatureLine || signatureLine->size() != kAlgorithmBytes + kKeyIdBytes + crypto_sign_BYTES)
    return malformed(QStringLiteral("the signature line is not a signature"));
  const QByteArray algorithm = signatureLine->left(kAlgorithmBytes);
  if (algorithm != "ED" && algorithm != "Ed") return malformed(QStringLiteral("the signature kind is unknown"));
  static const QByteArray trustedPrefix = "trusted comment: ";
  if (!lines[2].startsWith(trustedPrefix)) return malformed(QStringLiteral("the trusted comment is missing"));
  const auto global = strictBase64(lines[3]);
  if (!global || global->size() != crypto_sign_BYTES)
    return malformed(QStringLiteral("the global signature line is not a signature"));
  PackageSignature signature;
  signature.Prehashed = algorithm == "ED";
  signature.KeyId = signatureLine->mid(kAlgorithmBytes, kKeyIdBytes);
  signature.Signature = signatureLine->mid(kAlgorithmBytes + kKeyIdBytes);
  signature.TrustedComment = lines[2].mid(trustedPrefix.size());
  signature.GlobalSignature = *global;
  return signature;
}

QString PackageSignatureMismatch(const QString& path, const PackageSignature& signature, const PackagePublicKey& key) {
  if (!sodiumReady()) return QStringLiteral("the signature library could not be started");
  if (signature.KeyId != key.KeyId)
    return QStringLiteral("it was signed with another key (key ID %1, the key in force is %2)")
        .arg(keyIdText(signature.KeyId), keyIdText(key.KeyId));
  const auto fileGood = fileVerifies(path, signature, key.Key);
  if (!fileGood) return QStringLiteral("the package cannot be read to check its signature");
  if (!*fileGood) return QStringLiteral("its signature does not match the package");
  const QByteArray covered = signature.Signature + signature.TrustedComment;
  if (!verifies(signature.GlobalSignature, reinterpret_cast<const unsigned char*>(covered.constData()), covered.size(),
                key.Key))
    return QStringLiteral("the trusted comment of its signature has been altered");
  return {};
}

QString PackageSha256Mismatch(const QString& path, const QString& expectedHex) {
  static const QRegularExpression sha256Form(QStringLiteral("^[0-9A-Fa-f]{64}$"));
  if (!sha256Form.match(expectedHex).hasMatch())
    return QStringLiteral("the service's DownloadSha256 \"%1\" is not 64 hexadecimal digits").arg(expectedHex.left(80));
  QFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
    return QStringLiteral("the package cannot be read to check its SHA-256");
  const QString actual = QString::fromLatin1(hash.result().toHex());
  if (actual.compare(expectedHex, Qt::CaseInsensitive) != 0)
    return QStringLiteral("its SHA-256 is %1, the service announced %2").arg(actual, expectedHex.toLower());
  return {};
}
