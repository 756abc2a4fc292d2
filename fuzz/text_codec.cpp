// Text decoding of settings files from anywhere. Beyond not crashing:
//  - bytes that are well formed in the encoding their mark announces decode and encode
//    back to the same bytes (files are edited in place);
//  - any text encodes and decodes back to itself in each Unicode encoding, and in
//    Windows-1252 when every character has a byte there;
//  - every byte survives Windows-1252 both ways;
//  - a file written atomically reads back as what was written.
#include <QStringDecoder>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "platform/base/TextCodec.h"
#include "platform/base/TextFile.h"

namespace {

// False for a lone surrogate, which no UTF encoding carries.
bool validUtf16(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
      ++i;
    else if (text[i].isSurrogate())
      return false;
  }
  return true;
}

// True when the bytes after the mark are a whole, valid text in that encoding.
bool wellFormed(const QByteArray& bytes, TextEncoding encoding) {
  QStringDecoder::Encoding decoder = QStringDecoder::Utf8;
  qsizetype mark = 3;
  switch (encoding) {
    case TextEncoding::Windows1252: return true;
    case TextEncoding::Utf8: break;
    case TextEncoding::Utf16LittleEndian: decoder = QStringDecoder::Utf16LE, mark = 2; break;
    case TextEncoding::Utf16BigEndian: decoder = QStringDecoder::Utf16BE, mark = 2; break;
  }
  const QByteArray rest = bytes.mid(mark);
  if (encoding != TextEncoding::Utf8 && rest.size() % 2 != 0) return false;
  QStringDecoder strict(decoder, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  const QString text = strict(rest);
  return !strict.hasError() && validUtf16(text);  // lone surrogates survive neither way
}

bool fitsWindows1252(const QString& text) { return FromWindows1252(ToWindows1252(text)) == text; }

// A mark-less file whose first bytes are a mark is read as that encoding: not a text
// Windows-1252 can carry.
bool startsLikeAMark(const QByteArray& bytes) {
  return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

void checkTextRoundTrip(const QString& text) {
  for (const TextEncoding encoding :
       {TextEncoding::Utf8, TextEncoding::Utf16LittleEndian, TextEncoding::Utf16BigEndian}) {
    const DecodedText back = DecodeText(EncodeText(text, encoding));
    FUZZ_CHECK(back.Encoding == encoding, QStringLiteral("the encoding is not recognised back"));
    FUZZ_CHECK(back.Text == text, QStringLiteral("a text does not survive encoding %1").arg(int(encoding)));
  }
  const QByteArray ansi = EncodeText(text, TextEncoding::Windows1252);
  if (fitsWindows1252(text) && !startsLikeAMark(ansi))
    FUZZ_CHECK(DecodeText(ansi).Text == text, QStringLiteral("a Windows-1252 text does not survive"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = FuzzBytes(data, size);
  const DecodedText decoded = DecodeText(bytes);
  if (wellFormed(bytes, decoded.Encoding))
    FUZZ_CHECK(EncodeText(decoded.Text, decoded.Encoding) == bytes,
               QStringLiteral("a well-formed file does not encode back to its bytes"));
  FUZZ_CHECK(ToWindows1252(FromWindows1252(bytes)) == bytes, QStringLiteral("a byte is lost through Windows-1252"));

  // The same bytes as a text of UTF-16 code units, and as UTF-8.
  QString units(bytes.size() / 2, Qt::Uninitialized);
  std::memcpy(units.data(), bytes.constData(), static_cast<size_t>(units.size()) * 2);
  if (validUtf16(units)) checkTextRoundTrip(units);
  checkTextRoundTrip(QString::fromUtf8(bytes));

  if (FuzzChoice(data, size, 8) == 0) {  // the file system is slow: one input in eight
    FuzzScratch scratch;
    const QString path = scratch.Path() + QStringLiteral("text.ini");
    textfile::Update(path, [&](DecodedText& content) {
      content = decoded;
      return true;
    });
    const std::optional<DecodedText> read = textfile::Read(path);
    FUZZ_CHECK(read.has_value(), QStringLiteral("a file just written cannot be read"));
    FUZZ_CHECK(read->Text == decoded.Text && read->Encoding == decoded.Encoding,
               QStringLiteral("a file written does not read back"));
  }
  return 0;
}
