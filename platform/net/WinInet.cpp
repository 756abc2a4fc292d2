#include "platform/net/WinInet.h"

#include <QUrl>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/net/NetworkState.h"
#include "platform/net/Transfer.h"

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
  std::unique_ptr<net::Transfer> Transfer;
};

// The open handles of the process. Made once and never destroyed: a worker thread may
// still close its handles while the exit handlers run.
struct Registry {
  std::mutex Mutex;
  std::map<HINTERNET, std::shared_ptr<Handle>> Handles;
  HINTERNET Next = 0x1000;
};

Registry& registry() {
  static auto* const handles = new Registry;
  return *handles;
}

HINTERNET registered(std::shared_ptr<Handle> handle) {
  Registry& all = registry();
  const std::lock_guard lock(all.Mutex);
  const HINTERNET id = ++all.Next;
  all.Handles[id] = std::move(handle);
  return id;
}

template <typename Kind>
std::shared_ptr<Kind> lookUp(HINTERNET handle) {
  Registry& all = registry();
  const std::lock_guard lock(all.Mutex);
  const auto found = all.Handles.find(handle);
  return found == all.Handles.end() ? nullptr : std::dynamic_pointer_cast<Kind>(found->second);
}

quint32 errorFor(net::Failure failure) {
  switch (failure) {
    case net::Failure::None: return 0;
    case net::Failure::TimedOut: return ERROR_INTERNET_TIMEOUT;
    case net::Failure::NameNotResolved: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case net::Failure::CannotConnect: return ERROR_INTERNET_CANNOT_CONNECT;
    case net::Failure::InvalidUrl: return ERROR_INTERNET_INVALID_URL;
    case net::Failure::UnsupportedScheme: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case net::Failure::Certificate: return ERROR_INTERNET_INVALID_CA;
    case net::Failure::InvalidReply: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case net::Failure::ConnectionReset: return ERROR_INTERNET_CONNECTION_RESET;
    case net::Failure::ConnectionAborted: return ERROR_INTERNET_CONNECTION_ABORTED;
    case net::Failure::SecureConnection:
    case net::Failure::TooLarge:
    case net::Failure::Internal: return ERROR_INTERNET_INTERNAL_ERROR;
  }
  return ERROR_INTERNET_INTERNAL_ERROR;
}

// Drives the transfer until `done` holds, the transfer ends, the handle is cancelled, or
// the receive time-out passes without any byte. False with the error set on failure.
bool drive(Request& request, const std::function<bool()>& done) {
  net::DriveRules rules;
  rules.Done = done;
  rules.Cancelled = [&request] { return request.Cancelled(); };
  rules.QuietLimitMs = receiveTimeoutMs;
  rules.PollMs = kPollMilliseconds;
  switch (request.Transfer->Drive(rules)) {
    case net::DriveEnd::Done: return true;
    case net::DriveEnd::Cancelled: return fail(ERROR_INTERNET_OPERATION_CANCELLED);
    case net::DriveEnd::TimedOut: return fail(ERROR_INTERNET_TIMEOUT);
    case net::DriveEnd::Finished: break;
  }
  const net::Failure failure = request.Transfer->Result();
  return failure == net::Failure::None ? true : fail(errorFor(failure));
}

// The caller's header lines as libcurl takes them, and nothing of libcurl's own that the
// caller did not ask for: no Expect, no Accept. A line with an empty value is sent as it
// is ("Name;" is libcurl's form for that; "Name:" would remove the header).
QList<QByteArray> wireHeaders(const QStringList& lines) {
  QList<QByteArray> wire{"Expect:"};
  bool hasAccept = false;
  for (const QString& line : lines) {
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    const QString name = line.left(colon).trimmed();
    hasAccept = hasAccept || name.compare(QLatin1String("Accept"), Qt::CaseInsensitive) == 0;
    if (colon > 0 && line.mid(colon + 1).trimmed().isEmpty())
      wire << name.toUtf8() + ';';
    else
      wire << line.toUtf8();
  }
  if (!hasAccept) wire << "Accept:";
  return wire;
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

bool BreaksHeaderLine(const QString& text) {
  return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

QString SystemMessageText(quint32 code) {
  switch (code) {
    case ERROR_INVALID_HANDLE: return QStringLiteral("The handle is invalid.");
    case ERROR_INVALID_PARAMETER: return QStringLiteral("The parameter is incorrect.");
    case ERROR_INSUFFICIENT_BUFFER: return QStringLiteral("The data area passed to a system call is too small.");
    case ERROR_INTERNET_TIMEOUT: return QStringLiteral("The operation timed out.");
    case ERROR_INTERNET_INTERNAL_ERROR: return QStringLiteral("An internal error occurred.");
    case ERROR_INTERNET_INVALID_URL: return QStringLiteral("The URL is invalid.");
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return QStringLiteral("The URL does not use a recognized protocol.");
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return QStringLiteral("The server name or address could not be resolved.");
    case ERROR_INTERNET_OPERATION_CANCELLED: return QStringLiteral("The operation was canceled.");
    case ERROR_INTERNET_CANNOT_CONNECT: return QStringLiteral("A connection with the server could not be established.");
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return QStringLiteral("The connection with the server was terminated abnormally.");
    case ERROR_INTERNET_CONNECTION_RESET: return QStringLiteral("The connection with the server was reset.");
    case ERROR_INTERNET_INVALID_CA: return QStringLiteral("The certificate authority is invalid or incorrect.");
    case ERROR_HTTP_HEADER_NOT_FOUND: return QStringLiteral("The requested header could not be located.");
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return QStringLiteral("The server returned an invalid or unrecognized response.");
    case ERROR_HTTP_INVALID_HEADER: return QStringLiteral("The supplied header is invalid.");
    default: return QStringLiteral("Unknown error %1.").arg(code);
  }
}

HINTERNET InternetOpenW(const QString& agent, quint32, const QString&, const QString&, quint32) {
  if (BreaksHeaderLine(agent)) return failWithNull(ERROR_INVALID_PARAMETER);
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
  try {
    request->Transfer = std::make_unique<net::Transfer>();
  } catch (const std::exception&) {
    return failWithNull(ERROR_INTERNET_INTERNAL_ERROR);
  }
  request->Transfer->SetPauseAt(kPendingLimit);
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

  const bool secure = request->Flags & INTERNET_FLAG_SECURE;
  QByteArray host = connection->Host.toUtf8();
  if (host.contains(':') && !host.startsWith('[')) host = '[' + host + ']';  // an IPv6 literal
  net::RequestOptions options;
  options.Url = (secure ? "https://" : "http://") + host + ':' + QByteArray::number(connection->Port) +
                escapedTarget(request->Object);
  options.UserAgent = session->Agent;
  options.Http10 = request->Version == "HTTP/1.0";
  options.User = connection->User;
  options.Password = connection->Password;
  if (secure) {
    options.VerifyHost = !(request->Flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID);
    options.VerifyPeer = !(request->SecurityFlags & SECURITY_FLAG_IGNORE_UNKNOWN_CA);
  }
  if (request->Verb == "POST") {
    options.Verb = net::Method::Post;
    options.Body = body;
  } else if (request->Verb != "GET") {
    options.Verb = net::Method::Custom;
    options.CustomVerb = request->Verb;
  }
  const QStringList lines = headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  for (const QString& line : lines)
    if (BreaksHeaderLine(line)) return fail(ERROR_HTTP_INVALID_HEADER);
  options.Headers = wireHeaders(lines);

  net::Transfer& transfer = *request->Transfer;
  transfer.Start(options);
  if (!drive(*request, [&] { return transfer.Head().Complete; })) return false;
  if (!transfer.Head().Complete) return fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  lastError = 0;
  return true;
}

bool HttpQueryInfoNumber(HINTERNET handle, quint32 level, quint32& value) {
  auto request = lookUp<Request>(handle);
  if (!request) return fail(ERROR_INVALID_HANDLE);
  const qint64 length = request->Transfer->Head().ContentLength;
  if ((level & 0xFFFF) != HTTP_QUERY_CONTENT_LENGTH || length < 0 || length > 0xFFFFFFFF)
    return fail(ERROR_HTTP_HEADER_NOT_FOUND);
  value = static_cast<quint32>(length);
  return true;
}

bool HttpQueryInfoText(HINTERNET handle, quint32 level, QString& value, quint32& index, qsizetype bufferBytes) {
  auto request = lookUp<Request>(handle);
  if (!request) return fail(ERROR_INVALID_HANDLE);
  const net::ReplyHead& head = request->Transfer->Head();
  QString text;
  if (level == HTTP_QUERY_SET_COOKIE) {
    if (index >= quint32(head.Cookies.size())) return fail(ERROR_HTTP_HEADER_NOT_FOUND);
    text = QString::fromLatin1(head.Cookies[index]);
  } else if (level == HTTP_QUERY_RAW_HEADERS_CRLF) {
    text = QString::fromLatin1(head.StatusLine) + QStringLiteral("\r\n");
    for (const QByteArray& line : head.Lines) text += QString::fromLatin1(line) + QStringLiteral("\r\n");
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
  net::Transfer& transfer = *request->Transfer;
  if (!drive(*request, [&] { return transfer.HasBody(); })) return false;
  const QByteArray bytes = transfer.TakeBody(size);
  memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
  read = static_cast<quint32>(bytes.size());
  lastError = 0;
  return true;
}

bool InternetCloseHandle(HINTERNET handle) {
  std::shared_ptr<Handle> closed;
  {
    Registry& all = registry();
    const std::lock_guard lock(all.Mutex);
    const auto found = all.Handles.find(handle);
    if (found == all.Handles.end()) return fail(ERROR_INVALID_HANDLE);
    closed = found->second;
    all.Handles.erase(found);
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
    value = NetworkState::Current().Connected() ? INTERNET_STATE_CONNECTED : INTERNET_STATE_DISCONNECTED;
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
  const qsizetype authorityEnd =
      pathAt < 0 ? (queryAt < 0 ? rest.size() : queryAt) : (queryAt < 0 ? pathAt : std::min(pathAt, queryAt));
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
