#include "platform/net/WinInet.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QUrl>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/net/CurlSupport.h"

namespace wininet {

namespace {

constexpr int kPollMilliseconds = 50;
constexpr qsizetype kPendingLimit = 256 * 1024;  // body bytes held before the transfer is paused

thread_local quint32 lastError = 0;
std::atomic<quint32> receiveTimeoutMs{30000};

bool fail(quint32 code) {
  lastError = code;
  return false;
}

HINTERNET failWithNull(quint32 code) {
  lastError = code;
  return 0;
}

struct Handle {
  virtual ~Handle() = default;
  std::shared_ptr<Handle> Parent;
  std::atomic<bool> Closed{false};
  // Closed itself or under a closed parent.
  bool Cancelled() const { return Closed || (Parent && Parent->Cancelled()); }
};

struct Session : Handle {
  QByteArray Agent;
};

struct Connection : Handle {
  QString Host;
  quint16 Port = 0;
  QByteArray User, Password;
};

struct Request : Handle {
  QByteArray Verb, Object, Version;
  quint32 Flags = 0;
  quint32 SecurityFlags = 0;
  CURL* Easy = curl_easy_init();
  CURLM* Multi = curl_multi_init();
  QByteArray Body;
  QList<QByteArray> HeaderLines;  // of the final reply, status line first
  QList<QByteArray> Cookies;
  qint64 ContentLength = -1;
  bool HeadersDone = false;
  bool Finished = false;
  bool Attached = false;
  bool Paused = false;
  CURLcode Result = CURLE_OK;
  QByteArray Pending;  // body bytes received and not yet read
  char Error[CURL_ERROR_SIZE] = {};

  ~Request() override {
    if (Attached) curl_multi_remove_handle(Multi, Easy);
    curl_multi_cleanup(Multi);
    curl_easy_cleanup(Easy);
  }
};

std::mutex registryMutex;
std::map<HINTERNET, std::shared_ptr<Handle>> registry;
HINTERNET nextHandle = 0x1000;

HINTERNET registered(std::shared_ptr<Handle> handle) {
  const std::lock_guard lock(registryMutex);
  const HINTERNET id = ++nextHandle;
  registry[id] = std::move(handle);
  return id;
}

template <typename Kind>
std::shared_ptr<Kind> lookUp(HINTERNET handle) {
  const std::lock_guard lock(registryMutex);
  const auto found = registry.find(handle);
  return found == registry.end() ? nullptr : std::dynamic_pointer_cast<Kind>(found->second);
}

quint32 errorFor(CURLcode code) {
  switch (code) {
    case CURLE_OK: return 0;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR: return ERROR_INTERNET_INVALID_CA;
    case CURLE_WEIRD_SERVER_REPLY: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING: return ERROR_INTERNET_CONNECTION_ABORTED;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* request = static_cast<Request*>(user);
  QByteArray line(data, static_cast<qsizetype>(size * count));
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  if (line.startsWith("HTTP/")) {
    request->HeaderLines = {line};
    request->Cookies.clear();
    request->ContentLength = -1;
  } else if (line.isEmpty()) {
    const QList<QByteArray> status = request->HeaderLines.value(0).split(' ');
    request->HeadersDone = status.size() > 1 && status[1].toInt() >= 200;
  } else {
    request->HeaderLines << line;
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "set-cookie") request->Cookies << value;
    if (name == "content-length") request->ContentLength = value.toLongLong();
  }
  return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* request = static_cast<Request*>(user);
  if (request->Pending.size() >= kPendingLimit) {
    request->Paused = true;
    return CURL_WRITEFUNC_PAUSE;  // the reader has not caught up: memory stays bounded
  }
  request->Pending.append(data, static_cast<qsizetype>(size * count));
  return size * count;
}

// Drives the transfer until `done` holds, the transfer ends, the handle is cancelled, or
// the receive time-out passes without any byte. False with the error set on failure.
template <typename Done>
bool drive(Request& request, Done done) {
  QElapsedTimer quiet;
  quiet.start();
  qint64 seen = request.Pending.size();
  while (!done() && !request.Finished) {
    if (request.Cancelled()) return fail(ERROR_INTERNET_OPERATION_CANCELLED);
    int running = 0;
    curl_multi_perform(request.Multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(request.Multi, &queued))
      if (message->msg == CURLMSG_DONE) {
        request.Finished = true;
        request.Result = message->data.result;
      }
    if (done() || request.Finished) break;
    if (request.Pending.size() != seen) {
      seen = request.Pending.size();
      quiet.restart();
    }
    const quint32 timeout = receiveTimeoutMs;
    if (timeout > 0 && quiet.elapsed() > timeout) return fail(ERROR_INTERNET_TIMEOUT);
    curl_multi_poll(request.Multi, nullptr, 0, kPollMilliseconds, nullptr);
  }
  if (request.Finished && request.Result != CURLE_OK && !done()) return fail(errorFor(request.Result));
  return true;
}

QString decodedPercent(const QString& text) { return QUrl::fromPercentEncoding(text.toUtf8()); }

// The request target as sent: bytes a URL cannot hold (blanks, controls, non-ASCII and
// the few unsafe marks) are escaped; everything else, existing escapes included, stays.
QByteArray escapedTarget(const QByteArray& target) {
  static const char hex[] = "0123456789ABCDEF";
  QByteArray escaped;
  for (const char c : target) {
    const auto byte = static_cast<uchar>(c);
    if (byte <= 0x20 || byte >= 0x7F || QByteArray("\"<>\\^`{|}").contains(c))
      escaped += QByteArray{"%"} + hex[byte >> 4] + hex[byte & 15];
    else
      escaped += c;
  }
  return escaped;
}

}  // namespace

quint32 GetLastError() { return lastError; }

void SetLastError(quint32 code) { lastError = code; }

HINTERNET InternetOpenW(const QString& agent, quint32, const QString&, const QString&, quint32) {
  InitialiseCurlOnce();
  auto session = std::make_shared<Session>();
  session->Agent = agent.toUtf8();
  return registered(session);
}

HINTERNET InternetConnectW(HINTERNET session, const QString& host, quint16 port, const QString& user,
                           const QString& password, quint32, quint32, quintptr) {
  auto parent = lookUp<Session>(session);
  if (!parent) return failWithNull(ERROR_INVALID_HANDLE);
  auto connection = std::make_shared<Connection>();
  connection->Parent = parent;
  connection->Host = host;
  connection->Port = port;
  connection->User = user.toUtf8();
  connection->Password = password.toUtf8();
  return registered(connection);
}

HINTERNET HttpOpenRequestW(HINTERNET connection, const QString& verb, const QString& object, const QString& version,
                           const QString&, const QStringList&, quint32 flags, quintptr) {
  auto parent = lookUp<Connection>(connection);
  if (!parent) return failWithNull(ERROR_INVALID_HANDLE);
  auto request = std::make_shared<Request>();
  if (!request->Easy || !request->Multi) return failWithNull(ERROR_INTERNET_INTERNAL_ERROR);
  request->Parent = parent;
  request->Verb = verb.toUtf8();
  request->Object = object.toUtf8();
  request->Version = version.toUtf8();
  request->Flags = flags;
  return registered(request);
}

bool HttpSendRequestW(HINTERNET handle, const QString& headers, const QByteArray& body) {
  auto request = lookUp<Request>(handle);
  if (!request) return fail(ERROR_INVALID_HANDLE);
  auto connection = std::static_pointer_cast<Connection>(request->Parent);
  auto session = std::static_pointer_cast<Session>(connection->Parent);
  if (request->Attached) curl_multi_remove_handle(request->Multi, request->Easy);
  request->Attached = request->Finished = request->HeadersDone = request->Paused = false;
  request->Pending.clear();
  request->Result = CURLE_OK;

  CURL* easy = request->Easy;
  curl_easy_reset(easy);
  const bool secure = request->Flags & INTERNET_FLAG_SECURE;
  QByteArray host = connection->Host.toUtf8();
  if (host.contains(':')) host = '[' + host + ']';
  const QByteArray url = (secure ? "https://" : "http://") + host + ':' + QByteArray::number(connection->Port) +
                         escapedTarget(request->Object);
  curl_easy_setopt(easy, CURLOPT_URL, url.constData());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, session->Agent.constData());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   static_cast<long>(request->Version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, request->Error);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
  if (!connection->User.isEmpty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, connection->User.constData());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, connection->Password.constData());
  }
  if (secure) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, (request->Flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, (request->SecurityFlags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) ? 0L : 1L);
  }
  if (request->Verb == "POST") {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.constData());
  } else if (request->Verb != "GET") {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request->Verb.constData());
  }
  CurlHeaderList lines;
  AppendHeader(lines, "Expect:");
  for (const QString& line : headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
    AppendHeader(lines, line.toUtf8().constData());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, lines.get());

  curl_multi_add_handle(request->Multi, easy);
  request->Attached = true;
  const bool sent = drive(*request, [&] { return request->HeadersDone; });
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);  // the list dies here; the request is on the wire
  if (!sent) return false;
  if (!request->HeadersDone) return fail(request->Result == CURLE_OK ? ERROR_HTTP_INVALID_SERVER_RESPONSE : errorFor(request->Result));
  lastError = 0;
  return true;
}

bool HttpQueryInfoNumber(HINTERNET handle, quint32 level, quint32& value) {
  auto request = lookUp<Request>(handle);
  if (!request) return fail(ERROR_INVALID_HANDLE);
  if ((level & 0xFFFF) != HTTP_QUERY_CONTENT_LENGTH || request->ContentLength < 0) return fail(ERROR_HTTP_HEADER_NOT_FOUND);
  value = static_cast<quint32>(request->ContentLength);
  return true;
}

bool HttpQueryInfoText(HINTERNET handle, quint32 level, QString& value, quint32& index, qsizetype bufferBytes) {
  auto request = lookUp<Request>(handle);
  if (!request) return fail(ERROR_INVALID_HANDLE);
  QString text;
  if (level == HTTP_QUERY_SET_COOKIE) {
    if (index >= quint32(request->Cookies.size())) return fail(ERROR_HTTP_HEADER_NOT_FOUND);
    text = QString::fromLatin1(request->Cookies[index]);
  } else if (level == HTTP_QUERY_RAW_HEADERS_CRLF) {
    for (const QByteArray& line : request->HeaderLines) text += QString::fromLatin1(line) + QStringLiteral("\r\n");
    text += QStringLiteral("\r\n");
  } else {
    return fail(ERROR_HTTP_HEADER_NOT_FOUND);
  }
  if ((text.size() + 1) * 2 > bufferBytes) return fail(ERROR_INSUFFICIENT_BUFFER);
  value = text;
  ++index;
  return true;
}

bool InternetReadFile(HINTERNET handle, char* buffer, quint32 size, quint32& read) {
  read = 0;
  auto request = lookUp<Request>(handle);
  if (!request) return fail(ERROR_INVALID_HANDLE);
  if (!drive(*request, [&] { return !request->Pending.isEmpty(); })) return false;
  const qsizetype count = std::min<qsizetype>(size, request->Pending.size());
  memcpy(buffer, request->Pending.constData(), static_cast<size_t>(count));
  request->Pending.remove(0, count);
  read = static_cast<quint32>(count);
  if (request->Paused && request->Pending.size() < kPendingLimit) {
    request->Paused = false;
    curl_easy_pause(request->Easy, CURLPAUSE_CONT);
  }
  lastError = 0;
  return true;
}

bool InternetCloseHandle(HINTERNET handle) {
  std::shared_ptr<Handle> closed;
  {
    const std::lock_guard lock(registryMutex);
    const auto found = registry.find(handle);
    if (found == registry.end()) return fail(ERROR_INVALID_HANDLE);
    closed = found->second;
    registry.erase(found);
  }
  closed->Closed = true;  // calls blocked under it see this at their next turn
  return true;
}

bool InternetQueryOptionDword(HINTERNET handle, quint32 option, quint32& value) {
  if (handle == 0 && option == INTERNET_OPTION_RECEIVE_TIMEOUT) {
    value = receiveTimeoutMs;
    return true;
  }
  if (handle == 0 && option == INTERNET_OPTION_CONNECTED_STATE) {
    // Connected when an interface other than loopback is up.
    value = INTERNET_STATE_DISCONNECTED;
    for (const QString& name : QDir(QStringLiteral("/sys/class/net")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QFile state(QStringLiteral("/sys/class/net/%1/operstate").arg(name));
      if (name != QLatin1String("lo") && state.open(QIODevice::ReadOnly) && state.readAll().trimmed() == "up")
        value = INTERNET_STATE_CONNECTED;
    }
    return true;
  }
  if (option == INTERNET_OPTION_SECURITY_FLAGS) {
    auto request = lookUp<Request>(handle);
    if (!request) return fail(ERROR_INVALID_HANDLE);
    value = request->SecurityFlags;
    return true;
  }
  return fail(ERROR_INVALID_HANDLE);
}

bool InternetSetOptionDword(HINTERNET handle, quint32 option, quint32 value) {
  if (handle == 0 && option == INTERNET_OPTION_RECEIVE_TIMEOUT) {
    receiveTimeoutMs = value;
    return true;
  }
  if (option == INTERNET_OPTION_SECURITY_FLAGS) {
    auto request = lookUp<Request>(handle);
    if (!request) return fail(ERROR_INVALID_HANDLE);
    request->SecurityFlags = value;
    return true;
  }
  return fail(ERROR_INVALID_HANDLE);
}

bool InternetCrackUrlW(const QString& url, quint32 flags, UrlComponents& components) {
  const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
  if (schemeEnd <= 0) return fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  components = {};
  components.Scheme = url.left(schemeEnd).toLower();
  if (components.Scheme != QLatin1String("http") && components.Scheme != QLatin1String("https"))
    return fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  const QString rest = url.mid(schemeEnd + 3);
  const qsizetype pathAt = rest.indexOf(QLatin1Char('/'));
  const qsizetype queryAt = rest.indexOf(QLatin1Char('?'));
  const qsizetype authorityEnd = pathAt < 0 ? (queryAt < 0 ? rest.size() : queryAt)
                                            : (queryAt < 0 ? pathAt : std::min(pathAt, queryAt));
  QString authority = rest.left(authorityEnd);
  authority = authority.mid(authority.lastIndexOf(QLatin1Char('@')) + 1);  // credentials are not kept
  const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
  components.Port = components.Scheme == QLatin1String("https") ? 443 : 80;
  components.HostName = authority;
  if (colon >= 0 && !authority.endsWith(QLatin1Char(']'))) {
    bool ok = false;
    const uint port = authority.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535) return fail(ERROR_INTERNET_INVALID_URL);
    components.Port = static_cast<quint16>(port);
    components.HostName = authority.left(colon);
  }
  if (components.HostName.isEmpty()) return fail(ERROR_INTERNET_INVALID_URL);
  const QString tail = rest.mid(authorityEnd);
  const qsizetype split = tail.indexOf(QLatin1Char('?'));
  QString path = split < 0 ? tail : tail.left(split);
  QString extra = split < 0 ? QString() : tail.mid(split);
  if (flags & ICU_ESCAPE) {
    path = decodedPercent(path);
    extra = decodedPercent(extra);
  }
  components.UrlPath = path;
  components.ExtraInfo = extra;
  lastError = 0;
  return true;
}

}  // namespace wininet
