// Zip archives built byte by byte, for the shapes no zip tool writes on purpose: names with
// a NUL, entries that share or overlap their data, local headers that disagree with the
// central directory, sizes that were never compressed.
#pragma once

#include <zlib.h>

#include <QByteArray>
#include <vector>

#include "platform/base/Bytes.h"

namespace handzip {

// `data` deflated without a zlib header, as zip entries hold it.
inline QByteArray RawDeflate(const QByteArray& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(static_cast<qsizetype>(z.total_out));
  deflateEnd(&z);
  return out;
}

// What the local header and the central record say about one entry.
struct Record {
  QByteArray name;
  quint16 method = 8;
  quint16 flags = 0;
  quint32 crc = 0;
  quint32 compressedSize = 0;
  quint32 uncompressedSize = 0;
  quint32 offset = 0;  // of the local header
};

// An entry ready to be put: its record and its stored bytes.
struct Entry {
  Record record;
  QByteArray data;
};

inline Entry MakeEntry(const QByteArray& name, const QByteArray& content, bool deflate = true) {
  Entry entry;
  entry.record.name = name;
  entry.record.method = deflate ? 8 : 0;
  entry.record.crc = static_cast<quint32>(::crc32(
      ::crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(content.constData()), static_cast<uInt>(content.size())));
  entry.data = deflate ? RawDeflate(content) : content;
  entry.record.compressedSize = static_cast<quint32>(entry.data.size());
  entry.record.uncompressedSize = static_cast<quint32>(content.size());
  return entry;
}

inline QByteArray LocalHeader(const Record& r) {
  QByteArray h;
  bytes::append32(h, 0x04034b50);
  bytes::append16(h, 20);
  bytes::append16(h, r.flags);
  bytes::append16(h, r.method);
  bytes::append16(h, 0);
  bytes::append16(h, 0x21);  // 1 January 1980
  bytes::append32(h, r.crc);
  bytes::append32(h, r.compressedSize);
  bytes::append32(h, r.uncompressedSize);
  bytes::append16(h, static_cast<quint16>(r.name.size()));
  bytes::append16(h, 0);
  return h + r.name;
}

inline QByteArray CentralHeader(const Record& r) {
  QByteArray h;
  bytes::append32(h, 0x02014b50);
  bytes::append16(h, 20);  // made on a DOS-type host: no mode bits
  bytes::append16(h, 20);
  bytes::append16(h, r.flags);
  bytes::append16(h, r.method);
  bytes::append16(h, 0);
  bytes::append16(h, 0x21);
  bytes::append32(h, r.crc);
  bytes::append32(h, r.compressedSize);
  bytes::append32(h, r.uncompressedSize);
  bytes::append16(h, static_cast<quint16>(r.name.size()));
  bytes::append16(h, 0);
  bytes::append16(h, 0);
  bytes::append16(h, 0);
  bytes::append16(h, 0);
  bytes::append32(h, 0);
  bytes::append32(h, r.offset);
  return h + r.name;
}

// The archive's bytes: entries put in order, then the directory of `records` (which the
// test may change, copy or reorder before Finish).
class Builder {
 public:
  std::vector<Record> records;

  // Writes the entry's local header and data at the end and lists its record.
  Record& Put(Entry entry) {
    entry.record.offset = static_cast<quint32>(FBody.size());
    FBody += LocalHeader(entry.record) + entry.data;
    records.push_back(entry.record);
    return records.back();
  }
  Record& Put(const QByteArray& name, const QByteArray& content, bool deflate = true) {
    return Put(MakeEntry(name, content, deflate));
  }

  // `entries` stands in the end record as the count; -1 for the number of records.
  QByteArray Finish(const QByteArray& comment = {}, int entries = -1) const {
    QByteArray directory;
    for (const Record& r : records) directory += CentralHeader(r);
    QByteArray out = FBody + directory;
    const auto count = static_cast<quint16>(entries < 0 ? records.size() : entries);
    bytes::append32(out, 0x06054b50);
    bytes::append16(out, 0);
    bytes::append16(out, 0);
    bytes::append16(out, count);
    bytes::append16(out, count);
    bytes::append32(out, static_cast<quint32>(directory.size()));
    bytes::append32(out, static_cast<quint32>(FBody.size()));
    bytes::append16(out, static_cast<quint16>(comment.size()));
    return out + comment;
  }

 private:
  QByteArray FBody;
};

// An overlapping-entry bomb: `count` central records, named "<i><suffix>", all pointing at
// one deflated block of `size` zero bytes.
inline QByteArray SharedBlockBomb(int count, int size, const QByteArray& suffix = {}) {
  Builder bomb;
  const Record kernel = bomb.Put("0" + suffix, QByteArray(size, '\0'));
  for (int i = 1; i < count; ++i) {
    Record copy = kernel;
    copy.name = QByteArray::number(i) + suffix;
    bomb.records.push_back(copy);
  }
  return bomb.Finish();
}

}  // namespace handzip
