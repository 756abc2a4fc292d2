#include "web/iiehttp3_funcs.h"

#include <QHash>

QString Base64Encode(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64()); }

QString BreakBase64Lines(const QString& text) {
  QString broken;
  broken.reserve(text.size() + text.size() / 64 + 1);
  for (qsizetype at = 0; at < text.size(); at += 64) {
    broken += text.mid(at, 64);
    if (at + 64 <= text.size()) broken += QLatin1Char('\r');
  }
  return broken;
}

QByteArray StreamToRawBytes(const QBuffer& stream) { return stream.data(); }

QList<QByteArray> SplitRaw(const QByteArray& bytes, char separator) {
  QList<QByteArray> pieces;
  qsizetype at = 0;
  do {
    const qsizetype next = bytes.indexOf(separator, at);
    if (next < 0) {
      pieces << bytes.mid(at);
      break;
    }
    pieces << bytes.mid(at, next - at);
    at = next + 1;
  } while (at < bytes.size());
  return pieces;
}

QString EncodeUrlQuery(const QString& query) {
  static const QByteArray kept = "&+-.=?@_~";
  QString encoded;
  for (qsizetype at = 0; at < query.size(); ++at) {
    const char16_t u = query[at].unicode();
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
        (u < 128 && kept.contains(char(u)))) {
      encoded += query[at];
    } else if (u == ' ') {
      encoded += QStringLiteral("%20");
    } else {
      // A character outside the BMP is two UTF-16 units: its UTF-8 bytes come from both.
      const qsizetype units =
          query[at].isHighSurrogate() && at + 1 < query.size() && query[at + 1].isLowSurrogate() ? 2 : 1;
      for (const char byte : query.mid(at, units).toUtf8())
        encoded += QLatin1Char('%') + QString::number(uchar(byte), 16).toUpper().rightJustified(2, QLatin1Char('0'));
      at += units - 1;
    }
  }
  return encoded;
}

QString WinInetErrorText(qint32 code) {
  // Laid out as a table by hand.
  // clang-format off
  static const QHash<qint32, const char*> texts = {
      {12001, "(Out of handles)"}, {12002, "(Timeout)"}, {12004, "(Internal Error)"}, {12005, "(Invalid URL)"},
      {12006, "(Unrecognized Scheme)"}, {12007, "(Service Name Not Resolved)"}, {12008, "(Protocol Not Found)"},
      {12013, "(Incorrect User Name)"}, {12014, "(Incorrect Password)"}, {12015, "(Login Failure)"},
      {12016, "(Invalid Operation)"}, {12017, "(Operation Canceled)"}, {12020, "(Not Proxy Request)"},
      {12023, "(No Direct Access)"}, {12026, "(Request Pending)"}, {12027, "(Incorrect Format)"},
      {12028, "(Item not found)"}, {12029, "(Cannot connect)"}, {12030, "(Connection Aborted)"},
      {12031, "(Connection Reset)"}, {12033, "(Invalid Proxy Request)"}, {12034, "(Need UI)"},
      {12035, "(Sec Cert Date Invalid)"}, {12038, "(Sec Cert CN Invalid)"}, {12044, "(Client Auth Cert Needed)"},
      {12045, "(Invalid CA Cert)"}, {12046, "(Client Auth Not Setup)"}, {12150, "(HTTP Header Not Found)"},
      {12152, "(Invalid HTTP Server Response)"}, {12153, "(Invalid HTTP Header)"}, {12154, "(Invalid Query Request)"},
      {12156, "(Redirect Failed)"}, {12159, "(TCP/IP not installed)"}};
  // clang-format on
  const auto found = texts.constFind(code);
  if (found != texts.constEnd()) return QString::fromLatin1(*found);
  return QStringLiteral("(Unknown WININET error # %1)").arg(code);
}
