#include "platform/net/HttpClient.h"

#include <QUrl>
#include <algorithm>

#include "platform/base/Exception.h"
#include "platform/net/CurlSupport.h"
#include "platform/net/HttpForm.h"
#include "platform/net/Transfer.h"
#include "platform/os/Clock.h"

namespace {

constexpr int kPollMilliseconds = 20;
constexpr qint64 kWaitEventMilliseconds = 50;
constexpr long kConnectTimeoutSeconds = 30;
constexpr qint64 kStallTimeoutMilliseconds = 60000;  // no byte for this long fails the request

QString hostOf(const QString& url) {
  const QUrl parsed(url);
  if (parsed.host().isEmpty()) return url.isEmpty() ? QStringLiteral("(no URL)") : url;
  return parsed.port() < 0 ? parsed.host() : parsed.host() + QLatin1Char(':') + QString::number(parsed.port());
}

// A transport failure said as a person reads it: which host, and what went wrong.
QString transportFailure(const QString& url, const QString& reason) {
  return QStringLiteral("Request to %1 failed: %2").arg(hostOf(url), reason);
}

QString stallFailure(const QString& url) {
  return transportFailure(url, QStringLiteral("no data for %1 seconds.").arg(kStallTimeoutMilliseconds / 1000));
}

Exception busyError() { return Exception(QStringLiteral("The HTTP client is already busy with a request.")); }

// The first value of header `name` in `head`; empty when it has none.
QByteArray headerValue(const net::ReplyHead& head, const char* name) {
  const QByteArray wanted = QByteArray(name).toLower() + ':';
  for (const QByteArray& line : head.Lines)
    if (line.toLower().startsWith(wanted)) return line.mid(wanted.size()).trimmed();
  return {};
}

// Failures that may pass when the request is sent again.
bool mayPass(net::Failure failure) {
  switch (failure) {
    case net::Failure::TimedOut:
    case net::Failure::CannotConnect:
    case net::Failure::ConnectionReset:
    case net::Failure::ConnectionAborted: return true;
    default: return false;
  }
}

}  // namespace

// One multi handle carries the single requests and the ranges in flight, so that they
// share connections; one share carries the cookies between their easy handles.
struct HttpClient::CurlHandles {
  CurlHandles() {
    InitialiseCurlOnce();
    multi = curl_multi_init();
    share = curl_share_init();
    if (!multi || !share) {
      release();
      throw Exception(QStringLiteral("The HTTP client could not be created."));
    }
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  }
  ~CurlHandles() { release(); }
  CurlHandles(const CurlHandles&) = delete;
  CurlHandles& operator=(const CurlHandles&) = delete;
  void release() {
    if (multi) curl_multi_cleanup(multi);
    if (share) curl_share_cleanup(share);
  }

  CURLM* multi = nullptr;
  CURLSH* share = nullptr;
};

struct HttpClient::RangeSlot {
  explicit RangeSlot(CURLM* multi) : transfer(multi) {}
  net::Transfer transfer;
  QString url;
  qint64 tag = 0;
  bool inFlight = false;
};

HttpClient::HttpClient()
    : FCurl(std::make_unique<CurlHandles>()), FTransfer(std::make_unique<net::Transfer>(FCurl->multi)) {
  SetRequestHeader("Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  SetRequestHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
  SetConnectionLimit(FConnectionLimit);  // libcurl's own default is no limit
}

// Members go in reverse order: the transfers leave the multi handle before it is cleaned up.
HttpClient::~HttpClient() = default;

void HttpClient::SetTransportSecurity(const TransportSecurity& security) {
  FExtraCaBundle = security.ExtraCaFile.isEmpty() ? QByteArray() : CaBundleWith(security.ExtraCaFile);
}

QByteArray HttpClient::ResponseHeader(const char* name) const { return headerValue(FTransfer->Head(), name); }

void HttpClient::SetRequestHeader(const QByteArray& name, const QByteArray& value) { FHeaders[name] = value; }

qint64 HttpClient::Head(const QString& url) {
  perform(Method::Head, url, nullptr);
  return FContentLength;
}

void HttpClient::Get(const QString& url, const QByteArray& range, QByteArray& body) {
  body.clear();
  FRangeHeader = range;
  perform(Method::Get, url, &body);
}

QByteArray HttpClient::Post(const QString& url, const HttpForm& form) {
  FPostBody = form.Body();
  FPostContentType = form.ContentType();
  QByteArray body;
  perform(Method::Post, url, &body);
  return body;
}

net::RequestOptions HttpClient::requestOptions(Method method, const QString& url) const {
  net::RequestOptions options;
  options.Url = url.toUtf8();
  options.KeepCookies = true;
  options.Verb = method == Method::Head  ? net::Method::Head
                 : method == Method::Get ? net::Method::Get
                                         : net::Method::Post;
  options.Http10 = method == Method::Post;
  options.AllowHttp2 = method != Method::Post;
  options.Share = FCurl->share;
  if (method == Method::Post) options.Body = FPostBody;
  for (const auto& [name, value] : FHeaders) options.Headers << name + ": " + value;
  if (!FHeaders.contains("Accept")) options.Headers << "Accept:";  // libcurl would add its own
  if (method == Method::Post) options.Headers << "Content-Type: " + FPostContentType;
  if (!FRangeHeader.isEmpty()) options.Headers << "Range: " + FRangeHeader;
  options.ConnectTimeoutSeconds = kConnectTimeoutSeconds;
  options.ExtraOptions = [bundle = FExtraCaBundle](CURL* easy) { ApplyExtraCaBundle(easy, bundle); };
  return options;
}

void HttpClient::perform(Method method, const QString& url, QByteArray* body) {
  if (FBusy || RangesInFlight() > 0) throw busyError();
  FBusy = true;
  struct BusyReset {
    HttpClient* client;
    ~BusyReset() {
      client->FBusy = false;
      client->FRangeHeader.clear();
      client->FPostBody.clear();
      client->FPostContentType.clear();
    }
  } busyReset{this};

  FResponseCode = 0;
  FContentLength = -1;
  FDropRequested = false;
  FTransfer->SetMaxBody(FMaxBodySize, FMaxPartialBodySize);
  FTransfer->Start(requestOptions(method, url));
  runTransfer(url, body);

  const net::ReplyHead& head = FTransfer->Head();
  if (FRaisesOnErrorStatus && head.Status >= 300) throw Exception(QString::fromLatin1(head.StatusLine.trimmed()));
}

void HttpClient::runTransfer(const QString& url, QByteArray* body) {
  net::Transfer& transfer = *FTransfer;
  Clock& clock = Clock::Current();
  TransferEvents events;
  events.lastEventMs = clock.NowMs();
  net::DriveRules rules;
  rules.PollMs = kPollMilliseconds;
  rules.QuietLimitMs = kStallTimeoutMilliseconds;
  rules.Cancelled = [this] { return FDropRequested; };
  rules.EachPass = [&] {
    FResponseCode = transfer.Head().Status;  // the transfer events may ask for it
    if (body && transfer.HasBody()) body->append(transfer.TakeBody());
    if (body) raiseTransferEvents(events, clock.NowMs());
    if (!transfer.Finished() && clock.NowMs() - events.lastEventMs >= kWaitEventMilliseconds) {
      events.lastEventMs = clock.NowMs();
      if (OnWait) OnWait();
    }
  };
  // Leaving an unfinished transfer closes its connection: that is the drop. It is left on
  // every way out, an exception of an event handler too, so that it holds no connection the
  // ranges may need.
  struct StopOnExit {
    net::Transfer& transfer;
    ~StopOnExit() { transfer.Stop(); }
  };
  const net::DriveEnd end = [&] {
    const StopOnExit stop{transfer};
    return transfer.Drive(rules);
  }();
  if (events.beginRaised && OnWorkEnd) OnWorkEnd(WorkMode::Read);

  const net::ReplyHead& head = transfer.Head();
  FResponseCode = head.Status;
  FContentLength = head.ContentLength;
  if (end == net::DriveEnd::TimedOut) throw Exception(stallFailure(url));
  if (end != net::DriveEnd::Finished) throw Exception(QStringLiteral("Connection closed."));
  const net::Failure failure = transfer.Result();
  if (failure == net::Failure::TooLarge) throw Exception(transfer.FailureText());
  if (failure == net::Failure::Certificate || failure == net::Failure::SecureConnection)
    throw SecureConnectionRefused(hostOf(url), transfer.FailureText());
  if (failure != net::Failure::None) throw Exception(transportFailure(url, transfer.FailureText()));
}

void HttpClient::raiseTransferEvents(TransferEvents& events, qint64 nowMs) {
  const net::ReplyHead& head = FTransfer->Head();
  if (!head.Complete) return;
  if (!events.beginRaised) {
    events.beginRaised = true;
    events.lastEventMs = nowMs;
    if (OnWorkBegin) OnWorkBegin(WorkMode::Read, std::max<qint64>(head.ContentLength, 0));
  }
  const qint64 received = FTransfer->BodyReceived();
  if (received != events.reportedCount) {
    events.reportedCount = received;
    events.lastEventMs = nowMs;
    if (OnWork) OnWork(WorkMode::Read, received);
  }
}

void HttpClient::SetConnectionLimit(int connections) {
  FConnectionLimit = std::max(1, connections);
  curl_multi_setopt(FCurl->multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(FConnectionLimit));
}

int HttpClient::RangesInFlight() const {
  return static_cast<int>(
      std::count_if(FRanges.begin(), FRanges.end(), [](const auto& slot) { return slot->inFlight; }));
}

void HttpClient::StartRange(const RangeRequest& request) {
  if (FBusy) throw busyError();
  if (RangesInFlight() == 0) FDropRequested = false;  // a Disconnect drops only what was in flight
  auto idle = std::find_if(FRanges.begin(), FRanges.end(), [](const auto& slot) { return !slot->inFlight; });
  if (idle == FRanges.end()) idle = FRanges.insert(FRanges.end(), std::make_unique<RangeSlot>(FCurl->multi));
  RangeSlot& slot = **idle;
  net::RequestOptions options = requestOptions(Method::Get, request.Url);
  options.Headers << "Range: " + request.Range;
  options.Headers << request.ExtraHeaders;
  slot.transfer.SetMaxBody(request.MaxBody, request.MaxPartialBody);
  slot.transfer.Start(options);
  slot.url = request.Url;
  slot.tag = request.Tag;
  slot.inFlight = true;
}

void HttpClient::DropRanges() {
  for (const auto& slot : FRanges) {
    slot->transfer.Stop();
    slot->inFlight = false;
  }
  FDropRequested = false;
}

std::vector<RangeReply> HttpClient::WaitForRanges() {
  Clock& clock = Clock::Current();
  const auto seenInFlight = [this] {
    qint64 seen = 0;
    for (const auto& slot : FRanges)
      if (slot->inFlight) seen += slot->transfer.BytesSeen();
    return seen;
  };
  qint64 reported = -1;
  qint64 lastEventMs = clock.NowMs();
  qint64 quietSince = clock.NowMs();
  qint64 seen = seenInFlight();
  std::vector<RangeReply> ended;
  while (ended.empty() && RangesInFlight() > 0) {
    if (FDropRequested) {
      DropRanges();
      throw Exception(QStringLiteral("Connection closed."));
    }
    net::Transfer::PerformAll(FCurl->multi);
    if (const qint64 seenNow = seenInFlight(); seenNow != seen) {
      seen = seenNow;
      quietSince = clock.NowMs();
    }
    const bool quietTooLong = clock.NowMs() - quietSince > kStallTimeoutMilliseconds;
    for (const auto& slot : FRanges) {
      if (!slot->inFlight || !(slot->transfer.Finished() || quietTooLong)) continue;
      ended.push_back(finishedRange(*slot));
      slot->transfer.Stop();
      slot->inFlight = false;
    }
    if (!ended.empty()) break;
    raiseRangeProgress(reported, lastEventMs, clock.NowMs());
    if (!FDropRequested) net::Transfer::WaitForActivity(FCurl->multi, kPollMilliseconds);
  }
  return ended;
}

// A secure connection that is refused ends every range: the user must learn why at once.
RangeReply HttpClient::finishedRange(RangeSlot& slot) {
  net::Transfer& transfer = slot.transfer;
  RangeReply reply;
  reply.Tag = slot.tag;
  reply.Status = transfer.Head().Status;
  reply.ContentRange = headerValue(transfer.Head(), "Content-Range");
  reply.RetryAfter = headerValue(transfer.Head(), "Retry-After");
  reply.ETag = headerValue(transfer.Head(), "ETag");
  reply.LastModified = headerValue(transfer.Head(), "Last-Modified");
  if (!transfer.Finished()) {
    reply.Result = RangeReply::Outcome::TransientError;  // silent for too long
    reply.FailureText = stallFailure(slot.url);
    return reply;
  }
  const net::Failure failure = transfer.Result();
  if (failure == net::Failure::Certificate || failure == net::Failure::SecureConnection) {
    const QString host = hostOf(slot.url);
    const QString reason = transfer.FailureText();
    DropRanges();
    throw SecureConnectionRefused(host, reason);
  }
  if (failure == net::Failure::None) {
    reply.Body = transfer.TakeBody();
    return reply;
  }
  if (failure == net::Failure::TooLarge && reply.Status >= 300) return reply;  // a 503's long page says no more
  reply.Result = mayPass(failure) ? RangeReply::Outcome::TransientError : RangeReply::Outcome::Error;
  reply.FailureText =
      failure == net::Failure::TooLarge ? transfer.FailureText() : transportFailure(slot.url, transfer.FailureText());
  return reply;
}

void HttpClient::raiseRangeProgress(qint64& reported, qint64& lastEventMs, qint64 nowMs) {
  qint64 received = 0;
  for (const auto& slot : FRanges)
    if (slot->inFlight && slot->transfer.Head().Complete) received += slot->transfer.BodyReceived();
  if (received != reported) {
    reported = received;
    lastEventMs = nowMs;
    if (OnWork) OnWork(WorkMode::Read, received);
  } else if (nowMs - lastEventMs >= kWaitEventMilliseconds) {
    lastEventMs = nowMs;
    if (OnWait) OnWait();
  }
}
