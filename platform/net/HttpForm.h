// A multipart/form-data body (RFC 7578) of text fields in the order they were added, each
// part with its Content-Disposition, Content-Type and Content-Transfer-Encoding headers.
// The body is built here, not by the transport, so that its size is known before sending:
// HTTP/1.0 has no chunked uploads.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

struct HttpFormField {
  QString Name;
  QString Value;
  QString ContentType;       // the part's Content-Type header
  QString TransferEncoding;  // "quoted-printable" (the value is encoded so) or empty (sent as is)
  QString FileName;          // a file part when not empty: Content holds the file's bytes
  QByteArray Content;
};

class HttpForm {
 public:
  HttpForm();

  void AddFormField(const QString& name, const QString& value,
                    const QString& contentType = QStringLiteral("text/plain"),
                    const QString& transferEncoding = QStringLiteral("quoted-printable")) {
    FFields.push_back({name, value, contentType, transferEncoding, {}, {}});
  }
  // A file part: its bare name, a content type guessed from its name, its bytes.
  // Raises Exception when the file cannot be read.
  void AddFormFile(const QString& name, const QString& path);
  const std::vector<HttpFormField>& Fields() const { return FFields; }

  // "multipart/form-data; boundary=..."
  QByteArray ContentType() const;
  // The whole body: every part, then the closing boundary.
  QByteArray Body() const;

 private:
  std::vector<HttpFormField> FFields;
  QByteArray FBoundary;
};

// Quoted-printable (RFC 2045) of `bytes`, with soft line breaks after 76 characters.
QByteArray QuotedPrintable(const QByteArray& bytes);
