// Text files in the encodings settings files use: the one a byte-order mark announces
// (UTF-8, UTF-16 little or big endian), or Windows-1252 when there is none. Decoding and
// encoding again gives back the same bytes, so files can be edited in place.
#pragma once

#include <QByteArray>
#include <QString>

enum class TextEncoding { Windows1252, Utf8, Utf16LittleEndian, Utf16BigEndian };

struct DecodedText {
  QString Text;
  TextEncoding Encoding = TextEncoding::Windows1252;  // a file without a mark
};

// Decodes `bytes` by their byte-order mark (the mark itself is not part of the text).
DecodedText DecodeText(const QByteArray& bytes);
// Encodes `text` in `encoding`, with the mark for the Unicode encodings.
QByteArray EncodeText(const QString& text, TextEncoding encoding);

// Windows-1252 without any mark, both ways ("?" for characters it cannot hold).
QString FromWindows1252(const QByteArray& bytes);
QByteArray ToWindows1252(const QString& text);

// Reads a whole file; false when it cannot be read.
bool ReadTextFile(const QString& path, DecodedText& content);
// Replaces `path` with `text` through a temporary file in the same folder, so that a crash
// or a full disk never leaves the file half-written. False when that could not be done.
bool WriteTextFileAtomically(const QString& path, const QString& text, TextEncoding encoding);
