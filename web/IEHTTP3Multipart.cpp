// The component's form-upload side: the two variable lists and the exact multipart body.
#include <QFile>
#include <QFileInfo>

#include "platform/base/FileError.h"
#include "platform/base/TextCodec.h"
#include "web/IEHTTP3.h"
#include "web/iiehttp3_funcs.h"

namespace {

QByteArray readWholeFile(const QString& filename) {
  QFile file(filename);
  if (!file.open(QIODevice::ReadOnly)) throw FileError(FileAction::Open, filename, file.errorString());
  return file.readAll();
}

QString base64Lines(const QByteArray& bytes) { return BreakBase64Lines(Base64Encode(bytes)); }

}  // namespace

void TIEHTTP::AddMultipartVarW(const QString& field, const QString& value) {
  if (!FMultipartPOST) {
    error_msg = QStringLiteral("tiehttp not in multipart mode");
    return;
  }
  for (TMultipartVar& existing : multipartVars)
    if (existing.f == field) {
      existing.v = value;
      return;
    }
  multipartVars.push_back({field, value});
}

void TIEHTTP::AddMultipartVarBin(const QString& field, const QString& fn, const QByteArray& value) {
  if (!FMultipartPOST) {
    error_msg = QStringLiteral("tiehttp not in multipart mode");
    return;
  }
  for (TMultipartBinaryVar& existing : multipartBinaryVars)
    if (existing.f == field) {
      existing = {field, fn, value};
      return;
    }
  multipartBinaryVars.push_back({field, fn, value});
}

void TIEHTTP::AddMultipartVar_B64(const QString& field, const QByteArray& value) {
  AddMultipartVarW(field, base64Lines(value));
}

void TIEHTTP::AddMultipartFile(const QString& field, const QString& filename) {
  QBuffer stream;
  stream.setData(readWholeFile(filename));
  AddMultipartStream(field, stream);
}

void TIEHTTP::AddMultipartStream(const QString& field, const QBuffer& ms) {
  AddMultipartVarW(field, base64Lines(StreamToRawBytes(ms)));
}

void TIEHTTP::AddMultipartFormFile(const QString& field, const QString& filename) {
  const QByteArray bytes = readWholeFile(filename);
  AddMultipartVarBin(field, QFileInfo(filename).fileName(), bytes);
}

QByteArray TIEHTTP::FileToB64String(const QString& filename) const {
  return base64Lines(readWholeFile(filename)).toLatin1();
}

void TIEHTTP::BuildMultipartBody() {
  if (!FBody.isEmpty()) {
    QByteArray pairs = FBody;
    if (pairs.startsWith('&')) pairs.remove(0, 1);
    for (const QByteArray& piece : SplitRaw(pairs, '&')) {
      const QList<QByteArray> parts = SplitRaw(piece, '=');
      if (parts.size() != 2) {
        error_msg = QStringLiteral("could not convert %1 to multipart").arg(QString::fromLatin1(piece));
        return;
      }
      AddMultipartVarA(FromWindows1252(parts[0]), parts[1]);
    }
  }
  if (multipartVars.empty() && multipartBinaryVars.empty()) {
    error_msg = QStringLiteral("multipart error: no variables to post");
    return;
  }
  const QByteArray delimiter = "--" + kMultipartBoundary + "\r\n";
  QByteArray body;
  for (const TMultipartVar& var : multipartVars)
    body += delimiter + "Content-Disposition: form-data; name=\"" + ToWindows1252(var.f) + "\"\r\n\r\n" +
            var.v.toUtf8() + "\r\n";
  for (const TMultipartBinaryVar& var : multipartBinaryVars)
    body += delimiter + "Content-Disposition: form-data; name=\"" + ToWindows1252(var.f) + "\"; filename=\"" +
            var.fn.toUtf8() + "\"\r\nContent-Transfer-Encoding: binary\r\n\r\n" + var.v + "\r\n";
  body += "--" + kMultipartBoundary + "--\r\n";
  FBody = body;
}
