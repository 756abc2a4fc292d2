#include "platform/net/HttpClient.h"

#include <QElapsedTimer>
#include <QUrl>
#include <map>

#include "platform/net/CurlSupport.h"
#include "platform/base/Exception.h"
#include "platform/net/HttpForm.h"

namespace {

constexpr int kPollMilliseconds = 20;
constexpr qint64 kWaitEventMilliseconds = 50;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kStallTimeoutSeconds = 60;  // no byte for this long fails the request

QString hostOf(const QString& url) {
  const QUrl parsed(url);
  if (parsed.host().isEmpty()) return url.isEmpty() ? QStringLiteral("(no URL)") : url;
  return parsed.port() < 0 ? parsed.host() : parsed.host() + QLatin1Char(':') + QString::number(parsed.port());
}

// A transport failure said as a person reads it: which host, and what went wrong.
QString transportFailure(const QString& url, CURLcode code, const char* detail) {
  const QString reason = detail && *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curl_easy_strerror(code));
  return QStringLiteral("Request to %1 failed: %2").arg(hostOf(url), reason);
}

}  // namespace

struct HttpClient::Handles {
  CURL* easy = curl_easy_init();
  CURLM* multi = curl_multi_init();
  std::map<QByteArray, QByteArray> headers;
  char error[CURL_ERROR_SIZE] = {};

  ~Handles() {
    curl_multi_cleanup(multi);  // the easy handle is never left attached to it
    curl_easy_cleanup(easy);
  }
};

HttpClient::HttpClient() {
  InitialiseCurlOnce();
  FHandles = std::make_unique<Handles>();
  if (!FHandles->easy || !FHandles->multi) throw Exception(QStringLiteral("The HTTP client could not be created."));
  CURL* easy = FHandles->easy;
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, FHandles->error);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing loaded
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallTimeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpClient::onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpClient::onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  SetRequestHeader("Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  SetRequestHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
  SetTransportSecurity({});
}

void HttpClient::SetTransportSecurity(const TransportSecurity& security) {
  ApplyTransportSecurity(FHandles->easy, security);
}

QByteArray HttpClient::ResponseHeader(const char* name) const {
  curl_header* header = nullptr;
  if (curl_easy_header(FHandles->easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header) return {};
  return QByteArray(header->value);
}

HttpClient::~HttpClient() = default;

void HttpClient::SetRequestHeader(const QByteArray& name, const QByteArray& value) {
  FHandles->headers[name] = value;
}

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

void HttpClient::perform(Method method, const QString& url, QByteArray* body) {
  if (FBusy) throw Exception(QStringLiteral("The HTTP client is already busy with a request."));
  FBusy = true;
  struct BusyReset {
    HttpClient* client;
    ~BusyReset() {
      client->FBusy = false;
      client->FBody = nullptr;
      client->FRangeHeader.clear();
      client->FPostBody.clear();
      client->FPostContentType.clear();
    }
  } busyReset{this};

  CURL* easy = FHandles->easy;
  FBody = body;
  FStatusLine.clear();
  FResponseCode = 0;
  FContentLength = -1;
  FReceived = 0;
  FHeadersDone = FTooLarge = FDropRequested = false;
  FHandles->error[0] = '\0';

  const QByteArray urlBytes = url.toUtf8();
  curl_easy_setopt(easy, CURLOPT_URL, urlBytes.constData());
  switch (method) {
    case Method::Head:
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
      curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
      break;
    case Method::Get:
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
      curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
      break;
    case Method::Post:
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FPostBody.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, FPostBody.constData());
      curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
      break;
  }
  CurlHeaderList headers;
  for (const auto& [name, value] : FHandles->headers) AppendHeader(headers, (name + ": " + value).constData());
  if (method == Method::Post) AppendHeader(headers, ("Content-Type: " + FPostContentType).constData());
  if (!FRangeHeader.isEmpty()) AppendHeader(headers, ("Range: " + FRangeHeader).constData());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());

  runTransfer(url, method != Method::Head);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);

  if (FResponseCode >= 300)
    throw Exception(QString::fromLatin1(FStatusLine.trimmed()));
}

void HttpClient::runTransfer(const QString& url, bool raisesWorkEvents) {
  CURL* easy = FHandles->easy;
  CURLM* multi = FHandles->multi;
  curl_multi_add_handle(multi, easy);
  TransferEvents events;
  QElapsedTimer clock;
  clock.start();
  CURLcode result = CURLE_OK;
  bool finished = false;
  while (!finished) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      result = message->data.result;
      finished = true;
    }
    if (raisesWorkEvents) raiseTransferEvents(events, clock.elapsed());
    if (!finished && clock.elapsed() - events.lastEventMs >= kWaitEventMilliseconds) {
      events.lastEventMs = clock.elapsed();
      if (OnWait) OnWait();
    }
    if (finished || FDropRequested) break;
    curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
  }
  // Removing an unfinished transfer closes its connection: that is the drop.
  curl_multi_remove_handle(multi, easy);
  if (events.beginRaised && OnWorkEnd) OnWorkEnd(WorkMode::Read);

  long code = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
  FResponseCode = static_cast<int>(code);
  if (!finished) throw Exception(QStringLiteral("Connection closed."));
  if (FTooLarge) throw Exception(QStringLiteral("The reply is larger than %1 bytes.").arg(maxBodySize()));
  RaiseIfTransportSecurityFailure(result, hostOf(url), FHandles->error);
  if (result != CURLE_OK) throw Exception(transportFailure(url, result, FHandles->error));
}

void HttpClient::raiseTransferEvents(TransferEvents& events, qint64 nowMs) {
  if (!FHeadersDone) return;
  if (!events.beginRaised) {
    events.beginRaised = true;
    events.lastEventMs = nowMs;
    if (OnWorkBegin) OnWorkBegin(WorkMode::Read, std::max<qint64>(FContentLength, 0));
  }
  if (FReceived != events.reportedCount) {
    events.reportedCount = FReceived;
    events.lastEventMs = nowMs;
    if (OnWork) OnWork(WorkMode::Read, FReceived);
  }
}

size_t HttpClient::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* client = static_cast<HttpClient*>(self);
  const QByteArray line(data, static_cast<qsizetype>(size * count));
  if (line.startsWith("HTTP/")) {
    client->FStatusLine = line;
    client->FContentLength = -1;
    client->FHeadersDone = false;
    const QList<QByteArray> words = line.split(' ');
    client->FResponseCode = words.size() > 1 ? words[1].toInt() : 0;
  } else if (line.trimmed().isEmpty()) {
    client->FHeadersDone = client->FResponseCode >= 200;  // a 1xx block is followed by the real one
  } else if (line.toLower().startsWith("content-length:")) {
    bool valid = false;
    const qint64 length = line.mid(15).trimmed().toLongLong(&valid);
    client->FContentLength = valid && length >= 0 ? length : -1;
  }
  return size * count;
}

size_t HttpClient::onBody(char* data, size_t size, size_t count, void* self) {
  auto* client = static_cast<HttpClient*>(self);
  const auto bytes = static_cast<qint64>(size * count);
  if (!client->FBody) return size * count;
  if (client->FBody->size() + bytes > client->maxBodySize()) {
    client->FTooLarge = true;
    return 0;  // fails the transfer
  }
  client->FBody->append(data, bytes);
  client->FReceived += bytes;
  return size * count;
}
