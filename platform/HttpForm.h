// A multipart form for HttpClient::Post: text fields in the order they were added.
#pragma once

#include <QString>
#include <vector>

struct HttpFormField {
  QString Name;
  QString Value;
  QString ContentType;       // the part's Content-Type header
  QString TransferEncoding;  // the part's Content-Transfer-Encoding; the value is encoded by it
};

class HttpForm {
 public:
  void AddFormField(const QString& name, const QString& value,
                    const QString& contentType = QStringLiteral("text/plain"),
                    const QString& transferEncoding = QStringLiteral("quoted-printable")) {
    FFields.push_back({name, value, contentType, transferEncoding});
  }
  const std::vector<HttpFormField>& Fields() const { return FFields; }

 private:
  std::vector<HttpFormField> FFields;
};
