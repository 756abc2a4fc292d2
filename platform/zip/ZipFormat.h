// The zip format's records as the archive reader/writer uses them (no 64-bit extensions),
// DOS time stamps and entry-name decoding.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileDevice>
#include <QString>
#include <QtGlobal>

#include "platform/base/Bytes.h"

namespace zipformat {

constexpr quint32 kLocalHeaderSignature = 0x04034b50;
constexpr quint32 kCentralHeaderSignature = 0x02014b50;
constexpr quint32 kEndOfDirectorySignature = 0x06054b50;
constexpr quint32 kZip64LocatorSignature = 0x07064b50;
constexpr int kZip64LocatorSize = 20;
constexpr int kLocalHeaderSize = 30;
constexpr int kCentralHeaderSize = 46;
constexpr int kEndOfDirectorySize = 22;
constexpr int kMaxCommentSize = 65535;
constexpr int kMaxEntries = 65535;  // without zip64
constexpr quint16 kFlagEncrypted = 0x0001;
constexpr quint16 kFlagDataDescriptor = 0x0008;
constexpr quint16 kFlagUtf8Name = 0x0800;
constexpr quint16 kMethodStored = 0;
constexpr quint16 kMethodDeflated = 8;
constexpr quint8 kHostDos = 0;
constexpr quint8 kHostUnix = 3;
constexpr quint8 kDosReadOnly = 0x01;  // in the external attributes' low byte

using bytes::append16;
using bytes::append32;
using bytes::read16;
using bytes::read32;

// Unix mode bits and the permissions they stand for (read, write, execute for owner, group
// and others; set-user-ID, set-group-ID and sticky have no place here).
inline constexpr std::pair<quint32, QFileDevice::Permission> kModeBits[] = {
    {0400, QFileDevice::ReadOwner}, {0200, QFileDevice::WriteOwner}, {0100, QFileDevice::ExeOwner},
    {040, QFileDevice::ReadGroup},  {020, QFileDevice::WriteGroup},  {010, QFileDevice::ExeGroup},
    {04, QFileDevice::ReadOther},   {02, QFileDevice::WriteOther},   {01, QFileDevice::ExeOther}};

// One central-directory file header.
struct CentralRecord {
  quint16 VersionMadeBy = 0;
  quint16 VersionNeeded = 20;
  quint16 Flags = 0;
  quint16 Method = kMethodDeflated;
  quint16 ModTime = 0;
  quint16 ModDate = 0;
  quint32 Crc32 = 0;
  quint32 CompressedSize = 0;
  quint32 UncompressedSize = 0;
  quint16 DiskStart = 0;
  quint16 InternalAttributes = 0;
  quint32 ExternalAttributes = 0;
  quint32 LocalHeaderOffset = 0;
  QByteArray RawName;
  QByteArray Extra;
  QByteArray Comment;

  quint8 Host() const { return static_cast<quint8>(VersionMadeBy >> 8); }
  // The stored name: UTF-8, or code page 437 for an old entry whose bytes are not UTF-8.
  QString Name() const;
  // The stored name with every "\\" read as "/", the form in which it is extracted, listed
  // and looked up (some writers store folder separators as backslashes).
  QString PathName() const;
  // The whole header as it is written to the central directory.
  QByteArray Serialized() const;
};

// Decodes a stored name by the rules of CentralRecord::Name.
QString DecodeName(const QByteArray& raw, quint16 flags);

// `name` for a message: control characters (a NUL above all) shown as \xNN.
QString VisibleName(const QString& name);

// DOS date and time (local time, two-second steps, 1980 to 2107) and back.
QDateTime FromDosStamp(quint16 date, quint16 time);
void ToDosStamp(const QDateTime& stamp, quint16& date, quint16& time);

}  // namespace zipformat
