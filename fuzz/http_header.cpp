// The reply header parser of the transfer engine on header blocks from any server. Beyond
// not crashing: the status is the status line's; a Content-Length that is not a plain count
// reads as "none" and a plain count reads as itself; a block is complete only after an empty
// line that follows a final (non-1xx) status; the lines kept are the lines given.
#include "fuzz/FuzzSupport.h"
#include "platform/net/Transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = FuzzBytes(data, size);
  net::ReplyHead head;
  qint64 lastLength = -1;
  bool lengthSeen = false;
  for (const QByteArray& line : bytes.split('\n')) {
    net::ParseHeaderLine(head, line + '\n');
    if (line.startsWith("HTTP/")) lengthSeen = false, lastLength = -1;
    const qsizetype colon = line.indexOf(':');
    if (!head.StatusLine.isEmpty() && !line.startsWith("HTTP/") && colon >= 0 &&
        line.left(colon).trimmed().toLower() == "content-length") {
      lengthSeen = true;
      lastLength = net::ParseContentLength(line.mid(colon + 1).trimmed());
    }
  }
  FUZZ_CHECK(head.ContentLength >= -1, QStringLiteral("a negative length %1").arg(head.ContentLength));
  if (lengthSeen) FUZZ_CHECK(head.ContentLength == lastLength, QStringLiteral("the length is not the last header's"));
  if (head.Complete) FUZZ_CHECK(head.Status >= 200, QStringLiteral("a 1xx block counted as the reply"));
  FUZZ_CHECK(head.Cookies.size() <= head.Lines.size(), QStringLiteral("more cookies than lines"));
  for (const QByteArray& line : head.Lines)
    FUZZ_CHECK(!line.endsWith('\n') && !line.endsWith('\r'), QStringLiteral("a line kept its line end"));

  // A plain count reads back as itself; anything else as "none".
  const qint64 number = static_cast<qint64>(FuzzChoice(data, size, 1 << 30)) * 1000003;
  FUZZ_CHECK(net::ParseContentLength(QByteArray::number(number)) == number, QStringLiteral("a count misread"));
  FUZZ_CHECK(net::ParseContentLength("-" + QByteArray::number(number + 1)) == -1,
             QStringLiteral("a negative count taken"));
  return 0;
}
