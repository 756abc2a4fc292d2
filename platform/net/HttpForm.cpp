#include "platform/net/HttpForm.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRandomGenerator>

#include "platform/base/FileError.h"

HttpForm::HttpForm() {
  FBoundary = "--------" + QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
}

void HttpForm::AddFormFile(const QString& name, const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw FileError(FileAction::Open, path, file.errorString());
  HttpFormField field{name, {}, QMimeDatabase().mimeTypeForFile(path).name(), {}, QFileInfo(path).fileName(), {}};
  field.Content = file.readAll();
  FFields.push_back(std::move(field));
}

QByteArray HttpForm::ContentType() const { return "multipart/form-data; boundary=" + FBoundary; }

QByteArray HttpForm::Body() const {
  QByteArray body;
  for (const HttpFormField& field : FFields) {
    body += "--" + FBoundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + field.Name.toUtf8() + '"';
    if (!field.FileName.isEmpty()) body += "; filename=\"" + field.FileName.toUtf8() + '"';
    body += "\r\n";
    body += "Content-Type: " + field.ContentType.toUtf8() + "\r\n";
    const bool quoted = field.TransferEncoding.compare(QLatin1String("quoted-printable"), Qt::CaseInsensitive) == 0;
    if (!field.TransferEncoding.isEmpty())
      body += "Content-Transfer-Encoding: " + field.TransferEncoding.toUtf8() + "\r\n";
    body += "\r\n";
    const QByteArray value = field.FileName.isEmpty() ? field.Value.toUtf8() : field.Content;
    body += quoted ? QuotedPrintable(value) : value;
    body += "\r\n";
  }
  body += "--" + FBoundary + "--\r\n";
  return body;
}

QByteArray QuotedPrintable(const QByteArray& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  QByteArray encoded;
  int lineLength = 0;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const bool lastOnLine = i + 1 == bytes.size() || bytes[i + 1] == '\r';
    if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      encoded += "\r\n";
      ++i;
      lineLength = 0;
      continue;
    }
    QByteArray piece;
    const bool literal = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !lastOnLine);
    if (literal)
      piece = QByteArray(1, static_cast<char>(byte));
    else
      piece = QByteArray{"="} + hex[byte >> 4] + hex[byte & 15];
    if (lineLength + piece.size() > 75) {
      encoded += "=\r\n";
      lineLength = 0;
    }
    encoded += piece;
    lineLength += static_cast<int>(piece.size());
  }
  return encoded;
}
