#include <gtest/gtest.h>

#include "platform/base/TextCodec.h"

TEST(TextCodec, OnlyTheFilesOwnMarkIsTakenOff) {
  const struct {
    TextEncoding encoding;
    QByteArray mark;
  } cases[] = {
      {TextEncoding::Utf8, "\xEF\xBB\xBF"},
      {TextEncoding::Utf16LittleEndian, QByteArray("\xFF\xFE", 2)},
      {TextEncoding::Utf16BigEndian, QByteArray("\xFE\xFF", 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.encoding));
    const QByteArray doubled = c.mark + c.mark;
    const DecodedText onlyMarks = DecodeText(doubled);
    EXPECT_EQ(onlyMarks.Encoding, c.encoding);
    EXPECT_EQ(onlyMarks.Text, QString(QChar(0xFEFF)));
    EXPECT_EQ(EncodeText(onlyMarks.Text, onlyMarks.Encoding), doubled);

    const QByteArray file =
        c.mark + EncodeText(QString(QChar(0xFEFF)) + "[S]\r\nk=v\r\n", c.encoding).mid(c.mark.size());
    const DecodedText text = DecodeText(file);
    EXPECT_EQ(text.Text, QString(QChar(0xFEFF)) + "[S]\r\nk=v\r\n");
    EXPECT_EQ(EncodeText(text.Text, text.Encoding), file);

    const DecodedText single = DecodeText(c.mark + EncodeText("k=v", c.encoding).mid(c.mark.size()));
    EXPECT_EQ(single.Text, "k=v");
  }
  // Without a mark the bytes are Windows-1252, and those three are text.
  const DecodedText plain = DecodeText("a\xEF\xBB\xBF");
  EXPECT_EQ(plain.Encoding, TextEncoding::Windows1252);
  EXPECT_EQ(EncodeText(plain.Text, plain.Encoding), "a\xEF\xBB\xBF");
}
