// Encoding helpers of the web component: base64 and its line breaks, the query escaping,
// splitting raw bytes, the WinInet error texts.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QString>

// Standard base64 (RFC 4648) without line breaks.
QString Base64Encode(const QByteArray& bytes);
// A carriage return (no line feed) after every 64th character, the last one included.
QString BreakBase64Lines(const QString& text);
// The whole content of a memory stream.
QByteArray StreamToRawBytes(const QBuffer& stream);
// Pieces between separators; "" gives one empty piece, a trailing separator no empty last one.
QList<QByteArray> SplitRaw(const QByteArray& bytes, char separator);
// Letters, digits and & + - . = ? @ _ ~ stay; a space is %20; every other character (one
// outside the BMP included) is %XX of its UTF-8 bytes (so an existing escape is escaped again).
QString EncodeUrlQuery(const QString& query);
// "(Timeout)" for 12002 and so on; "(Unknown WININET error # N)" for the rest.
QString WinInetErrorText(qint32 code);
