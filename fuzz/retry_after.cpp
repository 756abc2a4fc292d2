// The wait a server's Retry-After asks for, on values from any server. Beyond not crashing:
//  - every wait lies between 0 and the cap, whatever the value, the retry and the clock;
//  - a value that is empty or blank gives the doubling wait of the retry;
//  - delay-seconds of up to nine digits read as themselves, cut to the cap;
//  - an IMF-fixdate written for some seconds after the clock reads back as those seconds.
#include <QDateTime>
#include <QLocale>
#include <algorithm>

#include "app/RetryRules.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Clocks in several centuries, so that two-digit years are read against each of them.
QDateTime clockFor(const uint8_t* data, size_t size) {
  static const QDateTime clocks[] = {
      QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::UTC),
      QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC),
      QDateTime(QDate(2049, 12, 31), QTime(12, 0, 0), Qt::UTC),
      QDateTime(QDate(2099, 6, 15), QTime(6, 30, 0), Qt::UTC),
      QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC),
  };
  return clocks[FuzzChoice(data, size, std::size(clocks))];
}

qint64 doublingWait(int retry) {
  return std::min<qint64>(qint64{500} << std::clamp(retry - 1, 0, 16), kMaxRetryWaitMs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray value = FuzzBytes(data, size);
  const QDateTime now = clockFor(data, size);
  const int retry = FuzzChoice(data, size, 40, 3) - 3;  // a few below 1, many beyond the cap
  const qint64 wait = RetryWaitMs(retry, value, now);
  FUZZ_CHECK(wait >= 0 && wait <= kMaxRetryWaitMs, QStringLiteral("a wait of %1 ms").arg(wait));

  const QByteArray trimmed = value.trimmed();
  if (trimmed.isEmpty())
    FUZZ_CHECK(wait == doublingWait(retry), QStringLiteral("a blank value changed the wait to %1 ms").arg(wait));
  const bool seconds =
      std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c >= '0' && c <= '9'; }) && !trimmed.isEmpty();
  if (seconds && trimmed.size() <= 9)
    FUZZ_CHECK(wait == std::min(trimmed.toLongLong() * 1000, kMaxRetryWaitMs),
               QStringLiteral("%1 seconds read as %2 ms").arg(QString::fromLatin1(trimmed)).arg(wait));

  // The form servers send, for a moment shortly after the clock.
  const int ahead = FuzzChoice(data, size, 64, 1);
  const QDateTime when = now.addSecs(ahead);
  if (when.date().year() <= 9999) {
    const QByteArray date = QLocale::c().toString(when, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
    FUZZ_CHECK(RetryWaitMs(retry, date, now) == std::min<qint64>(ahead * 1000, kMaxRetryWaitMs),
               QStringLiteral("%1 read wrongly").arg(QString::fromLatin1(date)));
  }
  return 0;
}
