// Decoding of compressed replies: a body whose first eight bytes are exactly
// 1F 8B 08 00 00 00 00 00 is decoded as zlib data after that prefix ('Z') or as a gzip
// file ('G'), falling back from one to the other. Bad data never raises out of here.
#pragma once

#include <QBuffer>
#include <QString>
#include <memory>

// Output of the decoders stops at `maxBytes` (by default this): a small body that inflates
// to more is cut, keeping what was decoded up to the cap, instead of exhausting memory.
inline constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;

// Replaces `stream` by its decoded content when it is recognised as compressed; otherwise
// leaves it, rewound. `url` containing ".asp" (any case) forces 'G'. Never raises: a 'Z'
// failure falls back to 'G', which gives what could be decoded; when memory runs out even
// within the cap, the stream stays as it came.
void DecodeContent(std::unique_ptr<QBuffer>& stream, const QString& url, char method,
                   qint64 maxBytes = kMaxDecodedBytes);

// A new stream at position 0 decoded by `method` ('Z' raises Exception on bad data), or
// nullptr for any other method.
std::unique_ptr<QBuffer> DecompressStream(QBuffer& source, char method, qint64 maxBytes = kMaxDecodedBytes);

// Everything that could be decoded from a gzip file (RFC 1952) starting at the source's
// position; data after a good member that is not another member is appended unchanged.
std::unique_ptr<QBuffer> GunzipStream(QIODevice& source, qint64 maxBytes = kMaxDecodedBytes);
