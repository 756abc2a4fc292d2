#include "app/SafeFileName.h"

namespace {

constexpr qsizetype kMaxNameBytes = 255;  // what a Linux file system holds in one name

}  // namespace

QString FileNameRefusal(const QString& name) {
  if (name.isEmpty()) return QStringLiteral("the name is empty");
  if (name == QLatin1String(".") || name == QLatin1String(".."))
    return QStringLiteral("the name is a folder reference");
  if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
    return QStringLiteral("the name holds a folder separator");
  for (const QChar c : name)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
      return QStringLiteral("the name holds a control character");
  // Embeddings, overrides and isolates make "setup\u202Efdp.sh" show as "setuphs.pdf".
  for (const QChar c : name)
    if (c.unicode() == 0x200E || c.unicode() == 0x200F || (c.unicode() >= 0x202A && c.unicode() <= 0x202E) ||
        (c.unicode() >= 0x2066 && c.unicode() <= 0x2069))
      return QStringLiteral("the name holds a character that reorders the text shown");
  if (name.toUtf8().size() > kMaxNameBytes) return QStringLiteral("the name is longer than 255 bytes");
  return {};
}
