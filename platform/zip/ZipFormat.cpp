#include "platform/zip/ZipFormat.h"

#include <QStringDecoder>

namespace zipformat {

namespace {

// Code page 437, bytes 0x80 to 0xFF.
const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

QString fromCp437(const QByteArray& raw) {
  QString text;
  text.reserve(raw.size());
  for (const char byte : raw) {
    const auto value = static_cast<uchar>(byte);
    text.append(value < 0x80 ? QChar(value) : QChar(kCp437High[value - 0x80]));
  }
  return text;
}

}  // namespace

QString DecodeName(const QByteArray& raw, quint16 flags) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(raw);
  if ((flags & kFlagUtf8Name) || !utf8.hasError()) return text;
  return fromCp437(raw);
}

QString CentralRecord::Name() const { return DecodeName(RawName, Flags); }

QString VisibleName(const QString& name) {
  QString shown;
  for (const QChar c : name) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      shown += QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    else
      shown += c;
  }
  return shown;
}

QString CentralRecord::PathName() const { return Name().replace(QLatin1Char('\\'), QLatin1Char('/')); }

QByteArray CentralRecord::Serialized() const {
  QByteArray out;
  out.reserve(kCentralHeaderSize + RawName.size() + Extra.size() + Comment.size());
  append32(out, kCentralHeaderSignature);
  append16(out, VersionMadeBy);
  append16(out, VersionNeeded);
  append16(out, Flags);
  append16(out, Method);
  append16(out, ModTime);
  append16(out, ModDate);
  append32(out, Crc32);
  append32(out, CompressedSize);
  append32(out, UncompressedSize);
  append16(out, static_cast<quint16>(RawName.size()));
  append16(out, static_cast<quint16>(Extra.size()));
  append16(out, static_cast<quint16>(Comment.size()));
  append16(out, DiskStart);
  append16(out, InternalAttributes);
  append32(out, ExternalAttributes);
  append32(out, LocalHeaderOffset);
  out += RawName;
  out += Extra;
  out += Comment;
  return out;
}

QDateTime FromDosStamp(quint16 date, quint16 time) {
  const QDate day(1980 + (date >> 9), std::max(1, (date >> 5) & 15), std::max(1, date & 31));
  const QTime clock((time >> 11) % 24, ((time >> 5) & 63) % 60, ((time & 31) * 2) % 60);
  return QDateTime(day.isValid() ? day : QDate(1980, 1, 1), clock.isValid() ? clock : QTime(0, 0));
}

void ToDosStamp(const QDateTime& stamp, quint16& date, quint16& time) {
  QDateTime local = stamp.toLocalTime();
  if (!local.isValid() || local.date().year() < 1980) local = QDateTime(QDate(1980, 1, 1), QTime(0, 0));
  if (local.date().year() > 2107) local = QDateTime(QDate(2107, 12, 31), QTime(23, 59, 58));
  const QDate d = local.date();
  const QTime t = local.time();
  date = static_cast<quint16>((d.year() - 1980) << 9 | d.month() << 5 | d.day());
  time = static_cast<quint16>(t.hour() << 11 | t.minute() << 5 | t.second() / 2);
}

}  // namespace zipformat
