#include "platform/base/TextCodec.h"

#include <QStringDecoder>

namespace {

// Windows-1252 at 0x80 to 0x9F; the five unassigned bytes map to the C1 controls of the
// same number, which keeps every byte round-trippable. The rest is Latin-1.
const char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

QString FromWindows1252(const QByteArray& bytes) {
  QString text(bytes.size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uchar>(bytes[i]);
    text[i] = b >= 0x80 && b < 0xA0 ? QChar(kHigh1252[b - 0x80]) : QChar(b);
  }
  return text;
}

namespace {

char to1252(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == u) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

namespace {

// The converters would take a U+FEFF at the start of the text for a mark of their own and
// drop it; ConvertInitialBom keeps it as the character it is.
QString decodeAfterMark(const QByteArray& bytes, qsizetype markSize, QStringConverter::Encoding encoding) {
  QStringDecoder decoder(encoding, QStringConverter::Flag::ConvertInitialBom);
  return decoder(QByteArrayView(bytes).sliced(markSize));
}

QByteArray encodeAll(const QString& text, QStringConverter::Encoding encoding) {
  QStringEncoder encoder(encoding, QStringConverter::Flag::ConvertInitialBom);
  return encoder(text);
}

}  // namespace

DecodedText DecodeText(const QByteArray& bytes) {
  if (bytes.startsWith("\xEF\xBB\xBF")) return {decodeAfterMark(bytes, 3, QStringConverter::Utf8), TextEncoding::Utf8};
  if (bytes.startsWith("\xFF\xFE"))
    return {decodeAfterMark(bytes, 2, QStringConverter::Utf16LE), TextEncoding::Utf16LittleEndian};
  if (bytes.startsWith("\xFE\xFF"))
    return {decodeAfterMark(bytes, 2, QStringConverter::Utf16BE), TextEncoding::Utf16BigEndian};
  return {FromWindows1252(bytes), TextEncoding::Windows1252};
}

QByteArray EncodeText(const QString& text, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8: return "\xEF\xBB\xBF" + encodeAll(text, QStringConverter::Utf8);
    case TextEncoding::Utf16LittleEndian: return QByteArray("\xFF\xFE", 2) + encodeAll(text, QStringConverter::Utf16LE);
    case TextEncoding::Utf16BigEndian: return QByteArray("\xFE\xFF", 2) + encodeAll(text, QStringConverter::Utf16BE);
    case TextEncoding::Windows1252: break;
  }
  return ToWindows1252(text);
}

QByteArray ToWindows1252(const QString& text) {
  QByteArray bytes(text.size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < text.size(); ++i) bytes[i] = to1252(text[i]);
  return bytes;
}
