// The package's 32 KiB ranges on their way to the file: which range to ask next, which
// arrived before their turn and wait in memory, and which bytes may now be appended so
// that the file always holds a contiguous prefix of the package.
//
// Memory: a range is asked afresh only within `window` ranges of the first byte not yet
// written and while fewer than `window` are in flight or held, so at most the largest window
// set is ever in flight or held. Threads: one thread.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <map>
#include <optional>

inline constexpr qint64 kRangeSize = 32768;

struct PackageRange {
  qint64 First = 0;
  qint64 Last = 0;      // the last byte the range brings
  qint64 AskedEnd = 0;  // the end the request names: the last range asks up to the length itself
  qint64 Length() const { return Last - First + 1; }
  QByteArray Header() const;  // "bytes=First-AskedEnd"
};

// The range that starts at `first` of a package of `length` bytes.
PackageRange RangeAt(qint64 first, qint64 length);

class RangePlan {
 public:
  // `written` bytes of the package are already in the file (a multiple of the range size,
  // or the whole length).
  RangePlan(qint64 length, qint64 written);

  // How many ranges may be in flight or held at once (at least 1).
  void SetWindow(int ranges);
  int Window() const { return FWindow; }

  // The next range to ask whose wait (see GiveBack) is over at `nowMs`: first those given
  // back, in file order, while fewer than the window are in flight (the held ones wait for
  // them, whatever the window has shrunk to); then the next one never asked, while fewer
  // than the window are in flight or held. None when nothing may be asked now.
  std::optional<PackageRange> NextToAsk(qint64 nowMs);
  // The earliest time a given-back range may be asked again; none when none waits.
  std::optional<qint64> NextRetryAt() const;
  // `range` failed and is asked again no earlier than `notBeforeMs`.
  void GiveBack(const PackageRange& range, qint64 notBeforeMs);
  // The body of `range` arrived whole and checked; it waits until the bytes before it are in.
  void Arrived(const PackageRange& range, QByteArray body);
  // Every held byte that continues the file, in order, removed from memory and counted as written.
  QByteArray TakeWritable();

  qint64 Length() const { return FLength; }
  qint64 Written() const { return FWritten; }
  // Bytes written or held: what the progress bar counts as in.
  qint64 Settled() const { return FWritten + FHeldBytes; }
  bool Complete() const { return FWritten >= FLength; }
  int InFlight() const { return FInFlight; }

 private:
  qint64 FLength;
  qint64 FWritten;
  qint64 FNextFresh;  // the first byte of the first range never asked
  int FWindow = 1;
  int FInFlight = 0;
  std::map<qint64, QByteArray> FHeld;  // by first byte
  qint64 FHeldBytes = 0;
  std::map<qint64, qint64> FRetries;  // first byte -> not before (Clock ms)
};
