// Text files in the encodings settings files use: the one a byte-order mark announces
// (UTF-8, UTF-16 little or big endian), or Windows-1252 when there is none. Decoding and
// encoding again gives back the same bytes, so files can be edited in place. Reading and
// writing files: TextFile.h.
#pragma once

#include <QByteArray>
#include <QString>

enum class TextEncoding { Windows1252, Utf8, Utf16LittleEndian, Utf16BigEndian };

struct DecodedText {
  QString Text;
  TextEncoding Encoding = TextEncoding::Windows1252;  // a file without a mark
};

// Decodes `bytes` by their byte-order mark. Only the file's own mark is taken off: a second
// U+FEFF after it is text, and EncodeText writes it back.
DecodedText DecodeText(const QByteArray& bytes);
// Encodes `text` in `encoding`, with the mark for the Unicode encodings.
QByteArray EncodeText(const QString& text, TextEncoding encoding);

// Windows-1252 without any mark, both ways ("?" for characters it cannot hold).
QString FromWindows1252(const QByteArray& bytes);
QByteArray ToWindows1252(const QString& text);
