// The program-wide number format: floating-point values are written and parsed with one
// decimal separator for the whole program (the user's until start-up sets ".").
#pragma once

#include <QChar>
#include <QString>

QChar DecimalSeparator();
void SetDecimalSeparator(QChar separator);

// General format with up to 15 significant digits, no thousands separators ("1.5", "1E20").
QString FloatToStr(double value);
// Parses text written in the program-wide format; false when it is not a number.
bool TryStrToFloat(const QString& text, double& value);
