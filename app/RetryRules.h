// When a failed range is asked again, and after how long.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

// A range is asked at most this many times more before its failure reaches the user.
inline constexpr int kMaxRetries = 5;
// The longest wait a server's Retry-After may ask for; a longer one is cut to this.
inline constexpr qint64 kMaxRetryWaitMs = 30000;

// Statuses that say "not now" rather than "never": 408, 429, 500, 502, 503, 504.
bool IsTransientStatus(int status);
// Statuses by which a server says it is too busy for more of us: 429, 503.
bool IsBusyStatus(int status);

// The wait before retry number `retry` (1 for the first): 0.5 s doubling with each retry,
// or the server's Retry-After (seconds, or an HTTP-date in any of its three forms, read
// against `now`) when it gives a readable one; never more than kMaxRetryWaitMs.
qint64 RetryWaitMs(int retry, const QByteArray& retryAfter, const QDateTime& now);
