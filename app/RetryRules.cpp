#include "app/RetryRules.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kFirstWaitMs = 500;
// More digits than this is a wait longer than any cap, not a number to compute with.
constexpr qsizetype kLongestSeconds = 9;

// An HTTP-date in any of the three forms a recipient must read (IMF-fixdate, the obsolete
// RFC 850 one and asctime's), always GMT; invalid when `text` is none of them. A two-digit
// year is the latest one not more than 50 years after `now`.
QDateTime httpDate(const QString& text, const QDateTime& now) {
  static const QRegularExpression forms[] = {
      QRegularExpression(QStringLiteral("^[A-Z][a-z]{2}, (?<day>\\d{2}) (?<month>[A-Z][a-z]{2}) (?<year>\\d{4}) "
                                        "(?<hour>\\d{2}):(?<minute>\\d{2}):(?<second>\\d{2}) GMT$")),
      QRegularExpression(QStringLiteral("^[A-Z][a-z]{5,8}, (?<day>\\d{2})-(?<month>[A-Z][a-z]{2})-(?<year>\\d{2}) "
                                        "(?<hour>\\d{2}):(?<minute>\\d{2}):(?<second>\\d{2}) GMT$")),
      QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} (?<month>[A-Z][a-z]{2}) (?<day>[ \\d]\\d) "
                                        "(?<hour>\\d{2}):(?<minute>\\d{2}):(?<second>\\d{2}) (?<year>\\d{4})$")),
  };
  static const QStringList months = {QStringLiteral("Jan"), QStringLiteral("Feb"), QStringLiteral("Mar"),
                                     QStringLiteral("Apr"), QStringLiteral("May"), QStringLiteral("Jun"),
                                     QStringLiteral("Jul"), QStringLiteral("Aug"), QStringLiteral("Sep"),
                                     QStringLiteral("Oct"), QStringLiteral("Nov"), QStringLiteral("Dec")};
  for (const QRegularExpression& form : forms) {
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) continue;
    int year = match.captured(u"year").toInt();
    if (match.captured(u"year").size() == 2) {
      const int nowYear = now.date().year();
      year += nowYear / 100 * 100;
      if (year > nowYear + 50) year -= 100;
    }
    const QDate date(year, static_cast<int>(months.indexOf(match.captured(u"month"))) + 1,
                     match.captured(u"day").trimmed().toInt());
    const QTime time(match.captured(u"hour").toInt(), match.captured(u"minute").toInt(),
                     match.captured(u"second").toInt());
    if (!date.isValid() || !time.isValid()) return {};  // no such day, or no such time
    return QDateTime(date, time, Qt::UTC);
  }
  return {};
}

// Retry-After in milliseconds: delay-seconds, or an HTTP-date read against `now`; -1 when
// absent or unreadable.
qint64 retryAfterMs(const QByteArray& value, const QDateTime& now) {
  const QByteArray text = value.trimmed();
  if (text.isEmpty()) return -1;
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return text.size() > kLongestSeconds ? std::numeric_limits<qint64>::max() : text.toLongLong() * 1000;
  const QDateTime when = httpDate(QString::fromLatin1(text), now);
  if (!when.isValid()) return -1;
  return std::max<qint64>(0, now.msecsTo(when));
}

}  // namespace

bool IsTransientStatus(int status) {
  return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool IsBusyStatus(int status) { return status == 429 || status == 503; }

qint64 RetryWaitMs(int retry, const QByteArray& retryAfter, const QDateTime& now) {
  const qint64 asked = retryAfterMs(retryAfter, now);
  if (asked >= 0) return std::min(asked, kMaxRetryWaitMs);
  const int doublings = std::clamp(retry - 1, 0, 16);
  return std::min(kFirstWaitMs << doublings, kMaxRetryWaitMs);
}
