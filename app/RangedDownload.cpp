#include "app/RangedDownload.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

#include "app/PackageFile.h"
#include "app/RetryRules.h"
#include "platform/net/HttpClient.h"
#include "platform/os/Clock.h"

namespace {

constexpr int kOk = 200;
constexpr int kPartialContent = 206;
// Ranges in flight or waiting for their turn once the server has shown it honours Range.
// 16 × 32 KiB covers the bandwidth-delay product of a 100 Mbit/s link with 40 ms round trips.
constexpr int kRangesInFlight = 16;
// A whole-file reply is held in memory until it is complete: only a package this small may
// come that way; a larger one must come in ranges, whatever length the HEAD announced.
constexpr qint64 kMaxWholeReplyBytes = 256 * 1024 * 1024;
// How often what is known to be good is put on disk and remembered for a later run.
constexpr qint64 kCheckpointIntervalMs = 1000;
constexpr qint64 kRetryPumpMs = 15;

// True when `contentRange` is exactly "bytes first-last/length" ("*" allowed for the length).
bool contentRangeMatches(const QByteArray& contentRange, const PackageRange& range, qint64 length) {
  static const QRegularExpression form(QStringLiteral("^bytes (\\d{1,18})-(\\d{1,18})/(\\d{1,18}|\\*)$"));
  const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentRange.trimmed()));
  if (!match.hasMatch()) return false;
  return match.captured(1).toLongLong() == range.First && match.captured(2).toLongLong() == range.Last &&
         (match.captured(3) == QLatin1String("*") || match.captured(3).toLongLong() == length);
}

// Whether a whole-file reply could be a package of `length` bytes: a body that arrived
// whole with that length, or one cut by the network (it may be asked again). A body refused
// as larger than `length`, or whole with another length, is not.
bool couldBeWholeOfLength(const RangeReply& reply, qint64 length) {
  if (reply.Result == RangeReply::Outcome::TransientError) return true;
  return reply.Result == RangeReply::Outcome::Replied && reply.Body.size() == length;
}

QString statusRefusal(int status) { return QStringLiteral("the reply has status %1 instead of 206.").arg(status); }

}  // namespace

RangedDownload::RangedDownload(HttpClient& client, PackageFile& file, PackageSource source, int connections)
    : FClient(client),
      FFile(file),
      FSource(std::move(source)),
      FPlan(FSource.Length, file.Size()),
      FConnections(std::max(1, connections)),
      FWindow(FConnections == 1 ? 1 : kRangesInFlight) {
  FRecord.Path = FFile.Path();
  FRecord.Url = FSource.Url;
  FRecord.Length = FSource.Length;
  FRecord.Validator = FSource.Validator;
  FRecord.Good = FFile.Size();
  FLastCheckpointMs = Clock::Current().NowMs();
}

RangedDownload::End RangedDownload::Run() {
  FClient.SetConnectionLimit(FConnections);
  FPlan.SetWindow(1);
  try {
    while (!FPlan.Complete()) {
      askWhatMayBeAsked();
      if (FClient.RangesInFlight() == 0) {
        // Ranges are asked in file order, so the one the file waits for is in flight or
        // waits for its retry; a plan that could not go on must not freeze the window.
        if (!FPlan.NextRetryAt())
          throw rangeError(RangeAt(FPlan.Written(), FSource.Length), QStringLiteral("no range is left to ask."));
        waitForRetries();
        if (Stopping()) break;
        continue;
      }
      std::vector<RangeReply> replies = FClient.WaitForRanges();  // a drop for a stop raises
      if (Stopping()) break;                                      // what arrived is not written
      const int othersInFlight = FClient.RangesInFlight() + static_cast<int>(replies.size()) - 1;
      for (const RangeReply& reply : replies) {
        const PackageRange range = RangeAt(reply.Tag, FSource.Length);
        switch (judge(reply, range, othersInFlight)) {
          case Verdict::Taken:
          case Verdict::Retry: break;
          case Verdict::WholePackage:
            FFile.Replace(reply.Body);
            FClient.DropRanges();
            return End::Complete;
          case Verdict::Changed: FClient.DropRanges(); return End::PackageChanged;
        }
      }
      writeInOrder();
      checkpoint(false);
    }
  } catch (...) {
    FClient.DropRanges();
    if (Stopping()) {
      checkpointOnTheWayOut();
      return End::Stopped;  // dropped for the user's stop: not an error
    }
    keepWhatArrivedOnTheWayOut();
    throw;
  }
  FClient.DropRanges();
  if (FPlan.Complete()) return End::Complete;
  checkpointOnTheWayOut();
  return End::Stopped;
}

// What the user must hear about is why the download ended; a record that cannot be
// written then only costs the next run a fresh start.
void RangedDownload::checkpointOnTheWayOut() {
  try {
    checkpoint(true);
  } catch (const std::exception&) {
  }
}

// A failed range loses only itself and what follows it: the good ranges that arrived
// before their turn and now continue the file are written.
void RangedDownload::keepWhatArrivedOnTheWayOut() {
  try {
    writeInOrder();
  } catch (const std::exception&) {
  }
  checkpointOnTheWayOut();
}

void RangedDownload::askWhatMayBeAsked() {
  const qint64 nowMs = Clock::Current().NowMs();
  while (const std::optional<PackageRange> range = FPlan.NextToAsk(nowMs)) {
    RangeRequest request;
    request.Url = FSource.Url;
    request.Range = range->Header();
    if (!FSource.Validator.isEmpty()) request.ExtraHeaders << "If-Range: " + FSource.Validator;
    request.Tag = range->First;
    // A server that ignores Range answers with the whole package: only the first range
    // may bring it, and only when it is small enough to hold. Every other reply is held to
    // the range it answers.
    const bool mayBeWhole = FProbing && range->First == 0 && FSource.Length <= kMaxWholeReplyBytes;
    request.MaxBody = mayBeWhole ? FSource.Length : range->Length();
    request.MaxPartialBody = range->Length();
    FClient.StartRange(request);
  }
}

// Nothing is in flight and every missing range waits for its retry: the window is kept
// alive meanwhile, so a close still stops at once.
void RangedDownload::waitForRetries() {
  Clock& clock = Clock::Current();
  const std::optional<qint64> due = FPlan.NextRetryAt();
  while (due && clock.NowMs() < *due && !Stopping()) {
    if (Pump) Pump();
    clock.SleepMs(std::min(kRetryPumpMs, *due - clock.NowMs()));
  }
}

RangedDownload::Verdict RangedDownload::judge(const RangeReply& reply, const PackageRange& range, int othersInFlight) {
  const bool askedFromStart = FProbing && range.First == 0;
  // The whole package for a later range: If-Range saying the package changed, or a server
  // that stopped honouring Range. Either way only a fresh start gives a sound file; the
  // reply itself was held to the range's length. A 200 to the first range may be a server
  // that ignores Range, but then it brings the HEAD's length; with If-Range sent, another
  // length is a changed package.
  if (reply.Status == kOk &&
      (!askedFromStart || (!FSource.Validator.isEmpty() && !couldBeWholeOfLength(reply, FSource.Length))))
    return Verdict::Changed;
  if (reply.Result == RangeReply::Outcome::TransientError) {
    retryOrFail(reply, range, othersInFlight, reply.FailureText);
    return Verdict::Retry;
  }
  if (reply.Result == RangeReply::Outcome::Error) throw rangeError(range, reply.FailureText);
  if (IsTransientStatus(reply.Status)) {
    retryOrFail(reply, range, othersInFlight, statusRefusal(reply.Status));
    return Verdict::Retry;
  }
  if (reply.Status == kOk && askedFromStart) {
    if (reply.Body.size() != FSource.Length)
      throw rangeError(range, QStringLiteral("the whole-file reply holds %1 bytes instead of %2.")
                                  .arg(reply.Body.size())
                                  .arg(FSource.Length));
    return Verdict::WholePackage;  // the server ignored Range and sent the whole package
  }
  if (reply.Status != kPartialContent) throw rangeError(range, statusRefusal(reply.Status));
  if (validatorChanged(reply)) return Verdict::Changed;  // a server that ignores If-Range still names its version
  if (!contentRangeMatches(reply.ContentRange, range, FSource.Length))
    throw rangeError(range, QStringLiteral("the reply's Content-Range is \"%1\" instead of \"bytes %2-%3/%4\".")
                                .arg(QString::fromLatin1(reply.ContentRange))
                                .arg(range.First)
                                .arg(range.Last)
                                .arg(FSource.Length));
  if (reply.Body.size() != range.Length())
    throw rangeError(
        range, QStringLiteral("the reply holds %1 bytes instead of %2.").arg(reply.Body.size()).arg(range.Length()));
  FPlan.Arrived(range, reply.Body);
  if (FProbing) {
    FProbing = false;  // the server honours Range: open the window
    FPlan.SetWindow(FWindow);
  }
  return Verdict::Taken;
}

// The reply names another version of the package than the HEAD did: its ETag when the
// validator is one (ETags are quoted), else its Last-Modified.
bool RangedDownload::validatorChanged(const RangeReply& reply) const {
  if (FSource.Validator.isEmpty()) return false;
  const QByteArray& named = FSource.Validator.startsWith('"') ? reply.ETag : reply.LastModified;
  return !named.isEmpty() && named != FSource.Validator;
}

// A failure while other ranges were in flight may be the server refusing the extra
// connections or streams: it costs them, not the range's retries.
void RangedDownload::retryOrFail(const RangeReply& reply, const PackageRange& range, int othersInFlight,
                                 const QString& why) {
  const bool refusedTheExtra = othersInFlight > 0 && (FWindow > 1 || FConnections > 1) &&
                               (reply.Result == RangeReply::Outcome::TransientError || IsBusyStatus(reply.Status));
  int retry = 1;
  if (refusedTheExtra) {
    fallBackToFewer();
  } else {
    retry = ++FRetries[range.First];
    if (retry > kMaxRetries) throw rangeError(range, why);
  }
  const qint64 waitMs = RetryWaitMs(retry, reply.RetryAfter, QDateTime::currentDateTimeUtc());
  FPlan.GiveBack(range, Clock::Current().NowMs() + waitMs);
}

void RangedDownload::fallBackToFewer() {
  FConnections = std::max(1, FConnections - 1);
  FWindow = std::max(1, FWindow / 2);
  FClient.SetConnectionLimit(FConnections);
  if (!FProbing) FPlan.SetWindow(FWindow);
}

void RangedDownload::writeInOrder() {
  const QByteArray writable = FPlan.TakeWritable();
  if (!writable.isEmpty()) FFile.Append(writable);
  if (Settled) Settled(FPlan.Settled());
}

// The file's bytes reach the disk before the record says they are good: after a crash the
// record never claims more than the file holds.
void RangedDownload::checkpoint(bool now) {
  Clock& clock = Clock::Current();
  if (FSource.Validator.isEmpty() || FFile.Size() <= FRecord.Good) return;
  if (!now && clock.NowMs() - FLastCheckpointMs < kCheckpointIntervalMs) return;
  FLastCheckpointMs = clock.NowMs();
  FFile.Sync();
  FRecord.Good = FFile.Size();
  SaveResumeRecord(FRecord);
}

Exception RangedDownload::rangeError(const PackageRange& range, const QString& why) const {
  return Exception(QStringLiteral("Download of %1 failed at %2: %3")
                       .arg(FSource.FileName, QString::fromLatin1(range.Header()), why));
}
