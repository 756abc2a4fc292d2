// Decoding of compressed replies, as the web component calls it on a reply from anywhere.
// Beyond not crashing: bad data never raises out of DecodeContent; the result is rewound;
// a reply without the gzip signature is left as it was; and the input itself, compressed
// by zlib as a gzip file or as a zlib stream behind the signature, decodes back to itself.
#include <zlib.h>

#include <exception>

#include "fuzz/FuzzSupport.h"
#include "platform/base/Exception.h"
#include "web/gunzip.h"

namespace {

const QByteArray kSignature("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);

std::unique_ptr<QBuffer> replyStream(const QByteArray& bytes) {
  auto stream = std::make_unique<QBuffer>();
  stream->setData(bytes);
  stream->open(QIODevice::ReadWrite);
  stream->seek(stream->size());  // where the transfer left it
  return stream;
}

// What the component does with a reply; fails the run if anything escapes.
QByteArray decodedReply(const QByteArray& reply, const QString& url, char method) {
  auto stream = replyStream(reply);
  try {
    DecodeContent(stream, url, method);
  } catch (const std::exception& error) {
    FuzzFailure(__FILE__, __LINE__,
                QStringLiteral("DecodeContent raised: %1").arg(QString::fromLocal8Bit(error.what())));
  }
  FUZZ_CHECK(stream != nullptr, QStringLiteral("DecodeContent left no stream"));
  FUZZ_CHECK(stream->pos() == 0, QStringLiteral("the decoded stream is not rewound"));
  FUZZ_CHECK(stream->size() <= kMaxDecodedBytes + reply.size(), QStringLiteral("decoded past the cap"));
  return stream->data();
}

// windowBits 15 + 16 gives zlib's own gzip header, which is the signature when no time
// or name is stored.
QByteArray deflated(const QByteArray& bytes, int windowBits) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(bytes.size()))), Qt::Uninitialized);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&z, Z_FINISH);
  out.resize(static_cast<qsizetype>(z.total_out));
  deflateEnd(&z);
  return status == Z_STREAM_END ? out : QByteArray();
}

void checkRoundTrips(const QByteArray& input) {
  const QByteArray gzip = deflated(input, MAX_WBITS + 16);
  FUZZ_CHECK(gzip.startsWith(kSignature), QStringLiteral("zlib wrote an unexpected gzip header"));
  for (const char method : {'G', 'Z'})
    FUZZ_CHECK(decodedReply(gzip, QStringLiteral("http://host/a.php"), method) == input,
               QStringLiteral("a gzip reply does not decode to its content (method %1)").arg(QLatin1Char(method)));
  FUZZ_CHECK(decodedReply(gzip, QStringLiteral("http://host/page.ASP?id=1"), 'Z') == input,
             QStringLiteral("a gzip reply from an .asp page does not decode to its content"));
  QBuffer file;
  file.setData(gzip);
  file.open(QIODevice::ReadOnly);
  FUZZ_CHECK(GunzipStream(file)->data() == input, QStringLiteral("GunzipStream does not give the content back"));

  const QByteArray zlib = kSignature + deflated(input, MAX_WBITS);
  FUZZ_CHECK(decodedReply(zlib, QStringLiteral("http://host/a.php"), 'Z') == input,
             QStringLiteral("a zlib reply does not decode to its content"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input = FuzzBytes(data, size);
  const char method = "ZGX"[FuzzChoice(data, size, 3)];
  const QString url = FuzzChoice(data, size, 2, 2) ? QStringLiteral("http://host/Page.Asp?x=1")
                                                   : QStringLiteral("http://host/web_download/GetUrlDownload.php");
  const QByteArray decoded = decodedReply(input, url, method);
  if (!input.startsWith(kSignature))
    FUZZ_CHECK(decoded == input, QStringLiteral("a reply without the signature was changed"));

  // The lower layers on their own: only the project's Exception may leave the zlib decoder.
  QBuffer source;
  source.setData(input);
  source.open(QIODevice::ReadOnly);
  try {
    DecompressStream(source, 'Z');
  } catch (const Exception&) {
  }
  source.seek(0);
  GunzipStream(source);

  checkRoundTrips(input);
  return 0;
}
