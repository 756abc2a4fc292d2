// The byte-level helpers of the web component's multipart bodies and query strings, on
// bytes from anywhere (a caller's post string, a file sent as base64). Beyond not crashing:
//  - the pieces SplitRaw gives join back to the input (less one trailing separator);
//  - base64 with its line breaks decodes back to the bytes, lines of 64 characters;
//  - an escaped query holds only safe characters and unescapes to the text's UTF-8.
// The body itself is assembled inside the component's request and is driven by its tests
// against a loopback server.
#include "fuzz/FuzzSupport.h"
#include "web/iiehttp3_funcs.h"

namespace {

void checkSplit(const QByteArray& bytes, char separator) {
  const QList<QByteArray> pieces = SplitRaw(bytes, separator);
  FUZZ_CHECK(!pieces.isEmpty(), QStringLiteral("no pieces"));
  const QByteArray joined = pieces.join(separator);
  const bool trailing = bytes.endsWith(separator);
  FUZZ_CHECK(joined == (trailing ? bytes.chopped(1) : bytes), QStringLiteral("the pieces do not join back"));
}

void checkBase64(const QByteArray& bytes) {
  const QString lines = BreakBase64Lines(Base64Encode(bytes));
  const QStringList parts = lines.split(QLatin1Char('\r'));
  for (qsizetype i = 0; i + 1 < parts.size(); ++i)
    FUZZ_CHECK(parts[i].size() == 64, QStringLiteral("a base64 line of %1 characters").arg(parts[i].size()));
  FUZZ_CHECK(parts.back().size() < 64, QStringLiteral("a base64 line without its break"));
  const QByteArray joined = parts.join(QString()).toLatin1();
  FUZZ_CHECK(joined.size() == (bytes.size() + 2) / 3 * 4, QStringLiteral("base64 of the wrong length"));
  const auto decoded = QByteArray::fromBase64Encoding(joined, QByteArray::AbortOnBase64DecodingErrors);
  FUZZ_CHECK(decoded && *decoded == bytes, QStringLiteral("base64 does not decode back"));
}

void checkQuery(const QString& text) {
  const QString escaped = EncodeUrlQuery(text);
  for (const QChar c : escaped)
    FUZZ_CHECK((c.isLetterOrNumber() && c.unicode() < 0x80) || QStringLiteral("&+-.=?@_~%").contains(c),
               QStringLiteral("an unsafe character %1 in a query").arg(c));
  FUZZ_CHECK(QByteArray::fromPercentEncoding(escaped.toLatin1()) == text.toUtf8(),
             QStringLiteral("an escaped query does not unescape to its text"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = FuzzBytes(data, size);
  checkSplit(bytes, '&');
  checkSplit(bytes, '=');
  checkBase64(bytes);
  checkQuery(QString::fromUtf8(bytes));
  return 0;
}
