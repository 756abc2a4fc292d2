#include "platform/net/Transfer.h"

#include "platform/base/Exception.h"
#include "platform/os/Clock.h"

namespace net {

qint64 ParseContentLength(const QByteArray& value) {
  const QByteArray digits = value.trimmed();
  if (digits.isEmpty() || digits.size() > 18) return -1;
  for (const char c : digits)
    if (c < '0' || c > '9') return -1;
  return digits.toLongLong();
}

void ParseHeaderLine(ReplyHead& head, QByteArray line) {
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  if (line.startsWith("HTTP/")) {
    head = {};
    head.StatusLine = line;
    const QList<QByteArray> words = line.split(' ');
    head.Status = words.size() > 1 ? words[1].toInt() : 0;
    return;
  }
  if (head.StatusLine.isEmpty()) {
    head.NotHttp = true;
    return;
  }
  if (line.isEmpty()) {
    head.Complete = head.Status >= 200;  // a 1xx block is followed by the real one
    return;
  }
  head.Lines << line;
  const qsizetype colon = line.indexOf(':');
  if (colon < 0) return;
  const QByteArray name = line.left(colon).trimmed().toLower();
  const QByteArray value = line.mid(colon + 1).trimmed();
  if (name == "set-cookie") head.Cookies << value;
  if (name == "content-length") head.ContentLength = ParseContentLength(value);
}

Failure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_OK: return Failure::None;
    case CURLE_OPERATION_TIMEDOUT: return Failure::TimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return Failure::NameNotResolved;
    case CURLE_COULDNT_CONNECT: return Failure::CannotConnect;
    case CURLE_URL_MALFORMAT: return Failure::InvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL: return Failure::UnsupportedScheme;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR: return Failure::Certificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return Failure::SecureConnection;
    case CURLE_WEIRD_SERVER_REPLY: return Failure::InvalidReply;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return Failure::ConnectionReset;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING: return Failure::ConnectionAborted;
    case CURLE_WRITE_ERROR: return Failure::TooLarge;  // only the body limit refuses a write
    default: return Failure::Internal;
  }
}

Transfer::Transfer(CURLM* sharedMulti) : FMulti(sharedMulti), FOwnsMulti(sharedMulti == nullptr) {
  InitialiseCurlOnce();
  FEasy = curl_easy_init();
  if (FOwnsMulti) FMulti = curl_multi_init();
  if (!FEasy || !FMulti) {
    if (FMulti && FOwnsMulti) curl_multi_cleanup(FMulti);
    if (FEasy) curl_easy_cleanup(FEasy);
    throw Exception(QStringLiteral("The HTTP client could not be created."));
  }
}

Transfer::~Transfer() {
  Stop();
  if (FOwnsMulti) curl_multi_cleanup(FMulti);
  curl_easy_cleanup(FEasy);
}

void Transfer::Stop() {
  if (FAttached) curl_multi_remove_handle(FMulti, FEasy);
  FAttached = false;
}

void Transfer::Start(const RequestOptions& options) {
  Stop();
  FFinished = FTooLarge = FPaused = false;
  FResult = CURLE_OK;
  FHead = {};
  FPending.clear();
  FBodyReceived = FBytesSeen = 0;
  FError[0] = '\0';
  // The handle keeps pointers to these for the whole transfer.
  FUrl = options.Url;
  FBody = options.Body;
  FAgent = options.UserAgent;
  FUser = options.User;
  FPassword = options.Password;
  FCustomVerb = options.CustomVerb;
  FHeaderList.reset();
  for (const QByteArray& line : options.Headers) AppendHeader(FHeaderList, line.constData());

  // Every option a request uses is set here each time, to its value or its default. No
  // curl_easy_reset: it would drop the cookie engine's file list without freeing it.
  CURL* easy = FEasy;
  curl_easy_setopt(easy, CURLOPT_URL, FUrl.constData());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  // Both clients speak HTTP only: no other scheme libcurl knows (file, dict, gopher...) is
  // ever fetched, not even through a redirect.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, FError);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   static_cast<long>(options.Http10       ? CURL_HTTP_VERSION_1_0
                                     : options.AllowHttp2 ? CURL_HTTP_VERSION_2TLS
                                                          : CURL_HTTP_VERSION_1_1));
  // Wait for a connection that may multiplex rather than open one more per request. Only
  // TLS can bring HTTP/2 here: on plain HTTP the wait would hold every further request until
  // the first one on a new connection has ended.
  const bool mayMultiplex = options.AllowHttp2 && FUrl.toLower().startsWith("https://");
  curl_easy_setopt(easy, CURLOPT_PIPEWAIT, mayMultiplex ? 1L : 0L);
  // Before the cookie engine: a shared cookie store replaces the handle's own.
  curl_easy_setopt(easy, CURLOPT_SHARE, options.Share);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, options.ConnectTimeoutSeconds);  // 0: libcurl's own
  if (options.KeepCookies && !FCookieEngineOn) {
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // on, nothing loaded
    FCookieEngineOn = true;
  }
  curl_easy_setopt(easy, CURLOPT_USERAGENT, FAgent.isEmpty() ? nullptr : FAgent.constData());
  curl_easy_setopt(easy, CURLOPT_USERNAME, FUser.isEmpty() ? nullptr : FUser.constData());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, FUser.isEmpty() ? nullptr : FPassword.constData());
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, options.VerifyPeer ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, options.VerifyHost ? 2L : 0L);
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);  // the default verb, no body; the others below
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, options.Verb == Method::Custom ? FCustomVerb.constData() : nullptr);
  switch (options.Verb) {
    case Method::Get:
    case Method::Custom: break;
    case Method::Head: curl_easy_setopt(easy, CURLOPT_NOBODY, 1L); break;
    case Method::Post:
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FBody.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, FBody.constData());
      break;
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, FHeaderList.get());
  if (options.ExtraOptions) options.ExtraOptions(easy);

  curl_multi_add_handle(FMulti, easy);
  FAttached = true;
}

void Transfer::PerformAll(CURLM* multi) {
  int running = 0;
  curl_multi_perform(multi, &running);
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    Transfer* transfer = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
    if (!transfer) continue;
    transfer->FFinished = true;
    transfer->FResult = message->data.result;
  }
}

bool Transfer::WaitForActivity(CURLM* multi, int pollMs) {
  return Clock::Current().WaitMs(pollMs, [multi](qint64 realMs) {
    int ready = 0;
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(realMs), &ready);
    return ready > 0;
  });
}

DriveEnd Transfer::Drive(const DriveRules& rules) {
  Clock& clock = Clock::Current();
  qint64 quietSince = clock.NowMs();
  qint64 seen = FBytesSeen;
  for (;;) {
    if (FAttached && !FFinished) PerformAll(FMulti);
    if (rules.EachPass) rules.EachPass();
    if (rules.Done && rules.Done()) return DriveEnd::Done;
    if (FFinished || !FAttached) return DriveEnd::Finished;
    if (rules.Cancelled && rules.Cancelled()) return DriveEnd::Cancelled;
    if (FBytesSeen != seen) {
      seen = FBytesSeen;
      quietSince = clock.NowMs();
    } else if (rules.QuietLimitMs > 0 && clock.NowMs() - quietSince > rules.QuietLimitMs && !FPaused) {
      return DriveEnd::TimedOut;
    }
    WaitForActivity(FMulti, rules.PollMs);
  }
}

Failure Transfer::Result() const {
  if (!FFinished || FResult == CURLE_OK) return Failure::None;
  if (FTooLarge) return Failure::TooLarge;
  // Our URLs are always http(s): a protocol libcurl refuses after connecting is a reply
  // that is not HTTP.
  if (FResult == CURLE_UNSUPPORTED_PROTOCOL &&
      (FHead.NotHttp || FUrl.startsWith("http://") || FUrl.startsWith("https://")))
    return Failure::InvalidReply;
  return FailureOf(FResult);
}

QString Transfer::FailureText() const {
  if (FTooLarge) return QStringLiteral("The reply is larger than %1 bytes.").arg(maxBodyOfThisReply());
  return FError[0] ? QString::fromUtf8(FError) : QString::fromUtf8(curl_easy_strerror(FResult));
}

QByteArray Transfer::TakeBody(qsizetype max) {
  QByteArray taken;
  if (max >= FPending.size()) {
    taken.swap(FPending);
  } else {
    taken = FPending.left(max);
    FPending.remove(0, max);
  }
  if (FPaused && (FPauseAt == 0 || FPending.size() < FPauseAt)) {
    FPaused = false;
    curl_easy_pause(FEasy, CURLPAUSE_CONT);
  }
  return taken;
}

size_t Transfer::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  const size_t bytes = size * count;
  transfer->FBytesSeen += static_cast<qint64>(bytes);
  ParseHeaderLine(transfer->FHead, QByteArray(data, static_cast<qsizetype>(bytes)));
  return bytes;
}

size_t Transfer::onBody(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  const auto bytes = static_cast<qint64>(size * count);
  if (transfer->FPauseAt > 0 && transfer->FPending.size() >= transfer->FPauseAt) {
    transfer->FPaused = true;
    return CURL_WRITEFUNC_PAUSE;  // the reader has not caught up: memory stays bounded
  }
  if (transfer->FBodyReceived + bytes > transfer->maxBodyOfThisReply()) {
    transfer->FTooLarge = true;
    return 0;  // fails the transfer
  }
  transfer->FPending.append(data, bytes);
  transfer->FBodyReceived += bytes;
  transfer->FBytesSeen += bytes;
  return static_cast<size_t>(bytes);
}

}  // namespace net
