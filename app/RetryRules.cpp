#include "app/RetryRules.h"

#include <algorithm>

namespace {

constexpr qint64 kFirstWaitMs = 500;

// An HTTP date: its usual form ends with "GMT", which the RFC 2822 reader refuses as a zone
// name; the same instant as "+0000" it reads, as it reads the old C form.
QDateTime httpDate(QByteArray text) {
  if (text.endsWith(" GMT")) text.replace(text.size() - 3, 3, "+0000");
  return QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
}

// Retry-After in milliseconds; -1 when absent or unreadable.
qint64 retryAfterMs(const QByteArray& value, const QDateTime& now) {
  const QByteArray text = value.trimmed();
  if (text.isEmpty()) return -1;
  bool isNumber = false;
  const qint64 seconds = text.size() <= 9 ? text.toLongLong(&isNumber) : 0;
  if (isNumber) return seconds < 0 ? -1 : seconds * 1000;
  const QDateTime when = httpDate(text);
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
