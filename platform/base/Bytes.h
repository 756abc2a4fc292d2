// Little-endian fixed-width integers in byte strings, as the zip and gzip formats store them.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace bytes {

// REQUIRES: at least 2 (read16) or 4 (read32) bytes readable at `at`.
inline quint16 read16(const char* at) {
  const auto* b = reinterpret_cast<const uchar*>(at);
  return static_cast<quint16>(b[0] | b[1] << 8);
}
inline quint32 read32(const char* at) {
  const auto* b = reinterpret_cast<const uchar*>(at);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<quint32>(b[3]) << 24;
}
inline void append16(QByteArray& out, quint16 value) {
  out.append(static_cast<char>(value & 0xff)).append(static_cast<char>(value >> 8));
}
inline void append32(QByteArray& out, quint32 value) {
  append16(out, static_cast<quint16>(value & 0xffff));
  append16(out, static_cast<quint16>(value >> 16));
}

}  // namespace bytes
