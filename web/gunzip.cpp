#include "web/gunzip.h"

#include <zlib.h>

#include "platform/base/Bytes.h"
#include "platform/base/Exception.h"

namespace {

// Larger pieces than the 16 KiB of old: zlib copies each piece into its window, so fewer
// and bigger pieces decode the same bytes faster.
constexpr qint64 kPiece = 256 * 1024;
const QByteArray kSignature("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);

std::unique_ptr<QBuffer> newStream() {
  auto stream = std::make_unique<QBuffer>();
  stream->open(QIODevice::ReadWrite);
  return stream;
}

// Inflates `input` (zlib or raw deflate by `windowBits`) into `out`; answers the bytes of
// `input` it used and whether the stream ended properly.
struct InflateResult {
  qsizetype used = 0;
  bool ended = false;
  quint32 crc = 0;
  qint64 produced = 0;
};

InflateResult inflateInto(const QByteArray& input, qsizetype from, int windowBits, QBuffer& out, qint64 maxBytes) {
  InflateResult result;
  z_stream z{};
  if (inflateInit2(&z, windowBits) != Z_OK) return result;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData() + from));
  z.avail_in = static_cast<uInt>(input.size() - from);
  result.crc = static_cast<quint32>(crc32(0, nullptr, 0));
  QByteArray& decoded = out.buffer();  // inflated straight into the stream's bytes
  int status = Z_OK;
  while (status == Z_OK && decoded.size() < maxBytes) {
    const qsizetype before = decoded.size();
    const qint64 room = std::min<qint64>(kPiece, maxBytes - before);
    decoded.resize(before + room);
    z.next_out = reinterpret_cast<Bytef*>(decoded.data() + before);
    z.avail_out = static_cast<uInt>(room);
    status = inflate(&z, Z_NO_FLUSH);
    const qint64 got = room - z.avail_out;
    decoded.resize(before + got);
    result.crc = static_cast<quint32>(
        crc32(result.crc, reinterpret_cast<const Bytef*>(decoded.constData() + before), static_cast<uInt>(got)));
    result.produced += got;
    if (got == 0 && status == Z_BUF_ERROR) break;  // input exhausted: truncated
  }
  result.ended = status == Z_STREAM_END;
  result.used = input.size() - from - z.avail_in;
  inflateEnd(&z);
  return result;
}

quint32 read32(const QByteArray& bytes, qsizetype at) { return bytes::read32(bytes.constData() + at); }

// The offset of the deflate data after a gzip header at `at`, or -1 for a bad header.
qsizetype gzipDataStart(const QByteArray& bytes, qsizetype at) {
  if (bytes.size() - at < 10 || uchar(bytes[at]) != 0x1F || uchar(bytes[at + 1]) != 0x8B) return -1;
  const auto method = uchar(bytes[at + 2]), flags = uchar(bytes[at + 3]);
  if (method != 8 || (flags & 0xE0)) return -1;
  qsizetype p = at + 10;
  if (flags & 0x04) {
    if (p + 2 > bytes.size()) return -1;
    p += 2 + (uchar(bytes[p]) | uchar(bytes[p + 1]) << 8);
  }
  for (const int flag : {0x08, 0x10})
    if (flags & flag) {
      const qsizetype zero = bytes.indexOf('\0', p);
      if (zero < 0) return -1;
      p = zero + 1;
    }
  if (flags & 0x02) p += 2;
  return p <= bytes.size() ? p : -1;
}

}  // namespace

std::unique_ptr<QBuffer> GunzipStream(QIODevice& source, qint64 maxBytes) {
  auto out = newStream();
  // The reader works on the whole reply: it is in memory already as a memory stream,
  // whose bytes are shared rather than copied.
  auto* memory = qobject_cast<QBuffer*>(&source);
  const QByteArray bytes = memory ? memory->data().mid(memory->pos()) : source.readAll();
  // The output grows as it is decoded; the trailer's size is the sender's claim and sizes nothing.
  qsizetype at = 0;
  while (at < bytes.size()) {
    const bool anotherMember = bytes.size() - at >= 2 && uchar(bytes[at]) == 0x1F && uchar(bytes[at + 1]) == 0x8B;
    if (at > 0 && !anotherMember) {
      out->buffer().append(bytes.constData() + at, bytes.size() - at);  // trailing data after a good member
      break;
    }
    const qsizetype data = gzipDataStart(bytes, at);
    if (data < 0) break;
    const InflateResult member = inflateInto(bytes, data, -MAX_WBITS, *out, maxBytes);
    const qsizetype trailer = data + member.used;
    if (!member.ended || trailer + 8 > bytes.size()) break;
    if (read32(bytes, trailer) != member.crc || read32(bytes, trailer + 4) != quint32(member.produced)) break;
    at = trailer + 8;
  }
  out->seek(0);
  return out;
}

std::unique_ptr<QBuffer> DecompressStream(QBuffer& source, char method, qint64 maxBytes) {
  if (method == 'G') {
    source.seek(0);
    return GunzipStream(source, maxBytes);
  }
  if (method != 'Z') return nullptr;
  auto out = newStream();
  const QByteArray& bytes = source.buffer();
  const InflateResult result = inflateInto(bytes, std::min<qsizetype>(8, bytes.size()), MAX_WBITS, *out, maxBytes);
  if (!result.ended && out->size() < maxBytes)
    throw Exception(QStringLiteral("zlib: the data is not a valid zlib stream."));
  out->seek(0);
  return out;
}

void DecodeContent(std::unique_ptr<QBuffer>& stream, const QString& url, char method, qint64 maxBytes) {
  stream->seek(0);
  const QByteArray head = stream->read(8);
  stream->seek(0);
  if (head != kSignature) return;
  char chosen = method == 'Z' || method == 'G' ? method : 'Z';
  if (url.toLower().contains(QLatin1String(".asp"))) chosen = 'G';
  std::unique_ptr<QBuffer> decoded;
  try {
    try {
      decoded = DecompressStream(*stream, chosen, maxBytes);
    } catch (const Exception&) {
      decoded = DecompressStream(*stream, 'G', maxBytes);  // only 'Z' raises: the final attempt is 'G'
    }
  } catch (const std::bad_alloc&) {
    decoded.reset();  // not even the capped output fits: the body stays as it came
  }
  if (decoded)
    stream = std::move(decoded);
  else
    stream->seek(0);
}
