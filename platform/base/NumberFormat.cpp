#include "platform/base/NumberFormat.h"

#include <QLocale>

namespace {
QChar& separator() {
  static QChar current = QLocale::system().decimalPoint().front();
  return current;
}
}  // namespace

QChar DecimalSeparator() { return separator(); }

void SetDecimalSeparator(QChar value) { separator() = value; }

QString FloatToStr(double value) {
  QString text = QString::number(value, 'g', 15);
  // The exponent as the settings files have always had it: "E", no "+", no leading zeros.
  const qsizetype e = text.indexOf(QLatin1Char('e'));
  if (e >= 0) {
    QString exponent = text.mid(e + 1);
    const bool negative = exponent.startsWith(QLatin1Char('-'));
    exponent.remove(QLatin1Char('+')).remove(QLatin1Char('-'));
    while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0'))) exponent.remove(0, 1);
    text = text.left(e) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString()) + exponent;
  }
  if (separator() != QLatin1Char('.')) text.replace(QLatin1Char('.'), separator());
  return text;
}

bool TryStrToFloat(const QString& text, double& value) {
  QString normal = text.trimmed();
  if (normal.contains(QLatin1Char('.')) && separator() != QLatin1Char('.')) return false;
  if (separator() != QLatin1Char('.')) normal.replace(separator(), QLatin1Char('.'));
  if (normal.contains(QLatin1Char(','))) return false;
  bool ok = false;
  const double parsed = normal.toDouble(&ok);
  if (ok) value = parsed;
  return ok;
}
