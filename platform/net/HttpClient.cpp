#include "platform/net/HttpClient.h"

#include <QUrl>

#include "platform/base/Exception.h"
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

}  // namespace

HttpClient::HttpClient() : FTransfer(std::make_unique<net::Transfer>()) {
  SetRequestHeader("Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  SetRequestHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
}

HttpClient::~HttpClient() = default;

void HttpClient::SetTransportSecurity(const TransportSecurity& security) {
  FExtraCaBundle = security.ExtraCaFile.isEmpty() ? QByteArray() : CaBundleWith(security.ExtraCaFile);
}

QByteArray HttpClient::ResponseHeader(const char* name) const {
  const QByteArray wanted = QByteArray(name).toLower() + ':';
  for (const QByteArray& line : FTransfer->Head().Lines)
    if (line.toLower().startsWith(wanted)) return line.mid(wanted.size()).trimmed();
  return {};
}

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
  if (FBusy) throw Exception(QStringLiteral("The HTTP client is already busy with a request."));
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
  const net::DriveEnd end = transfer.Drive(rules);
  // Leaving an unfinished transfer closes its connection: that is the drop.
  transfer.Stop();
  if (events.beginRaised && OnWorkEnd) OnWorkEnd(WorkMode::Read);

  const net::ReplyHead& head = transfer.Head();
  FResponseCode = head.Status;
  FContentLength = head.ContentLength;
  if (end == net::DriveEnd::TimedOut)
    throw Exception(
        transportFailure(url, QStringLiteral("no data for %1 seconds.").arg(kStallTimeoutMilliseconds / 1000)));
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
