#include "web/IEHTTP3.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/base/Dialogs.h"
#include "platform/base/Exception.h"
#include "platform/base/TextCodec.h"
#include "platform/os/Clock.h"
#include "web/gunzip.h"
#include "web/iiehttp3_funcs.h"

using namespace wininet;

namespace {

qint64 nowMs() { return Clock::Current().NowMs(); }

}  // namespace

// Everything a request's worker touches. The component and the worker each hold it, so
// whichever finishes last frees it; the worker never touches the component.
struct IeRequestState {
  // Inputs, fixed before the worker starts.
  QString Agent, Host, User, Password;
  quint16 Port = 0;
  QString Method, Target, ExtraHeaders;
  QByteArray Body;
  bool WantsPacketEvents = false;
  int TimeoutSeconds = 0;
  qint64 MaxBytes = 0;  // of body received

  std::mutex Mutex;  // guards everything below
  std::condition_variable Wake;
  bool Signalled = false;
  bool Finished = false;
  bool StopRequested = false;
  bool Abandoned = false;  // the component gave up: output is no longer wanted
  QByteArray Received;
  qint32 BytesRead = 0;
  quint32 ContentSize = 0;
  bool HeadersQueried = false;  // the reply headers were read (cookies included)
  bool HeadersRead = false;     // and the raw header block fitted
  QStringList ResponseHeaders;
  QStringList Cookies;
  qint32 Error = 0;
  QString ErrorMsg;
  qint64 Deadline = nowMs();  // on the Clock
  qint32 Packets = 0;         // reads done, the last (empty) one included
  HINTERNET Session = 0;

  void Signal() {
    Signalled = true;
    Wake.notify_all();
  }
  void ResetDeadline() { Deadline = nowMs() + qint64(std::max(TimeoutSeconds, 0)) * 1000; }
};

namespace {

constexpr qsizetype kReadBuffer = 32768;
constexpr qsizetype kHeaderBuffer = 10000;
// What the component holds per byte of body: the bytes, then the text and its lines in
// UTF-16; and what each line costs on top of its characters.
constexpr qint64 kHeldPerByte = 5;
constexpr qint64 kHeldPerLine = 64;

QString tooLarge(qint64 limit) { return QStringLiteral("The reply is larger than the limit of %1 bytes.").arg(limit); }

// What the reply costs as the component holds it once decoded.
qint64 heldBytes(const QByteArray& body) {
  const qint64 lines = body.count('\n') + body.count('\r') + 1;
  return body.size() * kHeldPerByte + lines * kHeldPerLine;
}

// Tells the worker its output is no longer wanted and ends its transfer: closing the
// session makes a blocked call under it return.
void abandon(IeRequestState& state) {
  HINTERNET session = 0;
  {
    const std::lock_guard lock(state.Mutex);
    if (state.Finished) return;
    state.Abandoned = true;
    session = state.Session;
    state.Session = 0;
  }
  if (session) InternetCloseHandle(session);
}

QString headerKey(QString name) {
  name = name.toLower().trimmed();
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  return name;
}

int headerIndex(const QStringList& lines, const QString& name) {
  const QString key = headerKey(name);
  if (key.isEmpty()) return -1;
  for (int i = 0; i < lines.size(); ++i)
    if (lines[i].toLower().startsWith(key + QStringLiteral(": "))) return i;
  return -1;
}

QString headerValue(const QStringList& lines, const QString& name) {
  const int index = headerIndex(lines, name);
  return index < 0 ? QString() : lines[index].mid(lines[index].indexOf(QStringLiteral(": ")) + 2);
}

// Lines split at CR, LF or CRLF; a final line break adds no empty line.
QStringList splitTextLines(const QString& text) {
  QString normal = text;
  normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList lines = normal.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.constLast().isEmpty()) lines.removeLast();
  return lines;
}

void readResponseHeaders(HINTERNET request, IeRequestState& state) {
  QStringList cookies;
  QString value;
  quint32 index = 0;
  while (HttpQueryInfoText(request, HTTP_QUERY_SET_COOKIE, value, index, kHeaderBuffer)) cookies << value;
  quint32 rawIndex = 0;
  QString raw;
  const bool haveRaw = HttpQueryInfoText(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw, rawIndex, kHeaderBuffer);
  const std::lock_guard lock(state.Mutex);
  state.Cookies = cookies;
  state.HeadersQueried = true;
  if (haveRaw) {
    state.ResponseHeaders = splitTextLines(raw);
    state.HeadersRead = true;
  }
}

// Custom-Content-Length stands in for a missing Content-Length; not a number raises.
void applyCustomContentLength(IeRequestState& state) {
  const std::lock_guard lock(state.Mutex);
  const QString custom = headerValue(state.ResponseHeaders, QStringLiteral("Custom-Content-Length"));
  if (state.ContentSize > 1 || custom.isEmpty() || custom == QLatin1String("0")) return;
  bool ok = false;
  const uint size = custom.trimmed().toUInt(&ok);
  if (!ok) throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(custom));
  state.ContentSize = size;
}

// Reads the body until its end, a stop, a time-out or a failing read (which ends the
// request with that read's error instead of trying forever).
void readResponseBody(HINTERNET request, IeRequestState& state) {
  QByteArray buffer(kReadBuffer, Qt::Uninitialized);
  for (;;) {
    quint32 read = 0;
    const bool ok = InternetReadFile(request, buffer.data(), kReadBuffer, read);
    const std::lock_guard lock(state.Mutex);
    if (state.Abandoned) return;
    if (!ok) {
      state.Error = static_cast<qint32>(GetLastError());
      return;
    }
    if ((state.Received.size() + read) * kHeldPerByte > state.MaxBytes) {
      state.Received.clear();
      state.ErrorMsg = tooLarge(state.MaxBytes);
      return;
    }
    state.Received.append(buffer.constData(), read);
    state.BytesRead += static_cast<qint32>(read);
    ++state.Packets;
    state.ResetDeadline();
    if (state.WantsPacketEvents) state.Signal();
    if (read == 0) return;
  }
}

// The worker's whole job; every way out closes the handles it opened.
void ProcessReadRequest(IeRequestState& state) {
  HINTERNET session = 0, connection = 0, request = 0;
  struct CloseRequest {
    HINTERNET& session;
    HINTERNET& connection;
    HINTERNET& request;
    ~CloseRequest() {
      for (HINTERNET handle : {request, connection, session})
        if (handle) InternetCloseHandle(handle);  // one closed by a stop is already gone
    }
  } closes{session, connection, request};
  auto failWith = [&](const QString& message) {
    const std::lock_guard lock(state.Mutex);
    state.ErrorMsg = message;
  };
  auto holdError = [&](quint32 code) {
    const std::lock_guard lock(state.Mutex);
    state.Error = static_cast<qint32>(code);
  };

  session = InternetOpenW(state.Agent, INTERNET_OPEN_TYPE_PRECONFIG, {}, {}, 0);
  if (!session) return failWith(QStringLiteral("Could not open Internet"));
  {
    const std::lock_guard lock(state.Mutex);
    if (state.Abandoned) return;
    state.Session = session;
  }
  connection =
      InternetConnectW(session, state.Host, state.Port, state.User, state.Password, INTERNET_SERVICE_HTTP, 0, 0);
  if (!connection) return failWith(QStringLiteral("Could not connect to server %1").arg(state.Host));
  quint32 flags = INTERNET_FLAG_RELOAD;
  if (state.Port == 443)
    flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
             INTERNET_FLAG_PRAGMA_NOCACHE;
  SetLastError(0);
  request = HttpOpenRequestW(connection, state.Method, state.Target, QStringLiteral("HTTP/1.0"), {}, {}, flags, 0);
  const quint32 openError = GetLastError();
  if (openError != 0 && openError != 122 && openError != 126 && openError != 183) return holdError(openError);
  if (!request) return failWith(QStringLiteral("Could not open HTTP request"));

  if (!HttpSendRequestW(request, state.ExtraHeaders, state.Body)) {
    quint32 code = GetLastError();
    if (code == ERROR_INTERNET_INVALID_CA) {
      quint32 security = 0;
      InternetQueryOptionDword(request, INTERNET_OPTION_SECURITY_FLAGS, security);
      InternetSetOptionDword(request, INTERNET_OPTION_SECURITY_FLAGS, security | SECURITY_FLAG_IGNORE_UNKNOWN_CA);
      code = HttpSendRequestW(request, state.ExtraHeaders, state.Body) ? 0 : GetLastError();
    }
    if (code != 0) return holdError(code);
  }
  quint32 length = 0;
  if (!HttpQueryInfoNumber(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length) || length == 0)
    length = 1;
  {
    const std::lock_guard lock(state.Mutex);
    state.ContentSize = length;
    state.BytesRead = 0;
  }
  if (qint64(length) * kHeldPerByte > state.MaxBytes) return failWith(tooLarge(state.MaxBytes));  // announced too large
  readResponseHeaders(request, state);
  applyCustomContentLength(state);
  {
    const std::lock_guard lock(state.Mutex);
    state.ResetDeadline();
  }
  readResponseBody(request, state);
}

// The worker thread: runs the request, discards what it raises, says it is done, ends.
class TTimeout {
 public:
  static std::thread::id Start(std::shared_ptr<IeRequestState> state) {
    std::thread worker([state] {
      try {
        ProcessReadRequest(*state);
      } catch (...) {
        // The request simply ends; the caller sees what arrived before.
      }
      const std::lock_guard lock(state->Mutex);
      state->Finished = true;
      state->Signal();
    });
    const std::thread::id id = worker.get_id();
    worker.detach();
    return id;
  }
};

}  // namespace

TIEHTTP::TIEHTTP() : result_ms(std::make_unique<QBuffer>()) {
  result_ms->open(QIODevice::ReadWrite);
  SetRequestMethod(QStringLiteral("GET"));
  SetMultipartPOST(false);
  quint32 receiveTimeout = 0;
  if (InternetQueryOptionDword(0, INTERNET_OPTION_RECEIVE_TIMEOUT, receiveTimeout) && receiveTimeout == 30000)
    InternetSetOptionDword(0, INTERNET_OPTION_RECEIVE_TIMEOUT, 0);
}

TIEHTTP::~TIEHTTP() {
  *FAlive = false;
  if (FState) abandon(*FState);
}

void TIEHTTP::refuseWhileBusy() const {
  if (working_status > 0) throw Exception(QStringLiteral("tiehttp: Cannot change parameters while processing request"));
}

void TIEHTTP::SetURL(const QString& url) {
  FURL = url;
  if (!FURL.isEmpty() && !FURL.toLower().contains(QLatin1String("://"))) FURL = QStringLiteral("http://") + FURL;
  FUrlParts = {};
  if (!FURL.isEmpty()) CrackURL();
}

void TIEHTTP::CrackURL() {
  if (!InternetCrackUrlW(FURL, ICU_ESCAPE, FUrlParts)) {
    const quint32 code = GetLastError();
    error_msg = QStringLiteral("tiehttp: Invalid URL. Error - %1 = %2").arg(code).arg(SystemMessageText(code));
    return;
  }
  if (FUrlParts.UrlPath.isEmpty()) {
    error_msg = QStringLiteral("tiehttp: Empty URL");
    return;
  }
  // The whole query is kept, however long: no fixed buffer to overrun or cut.
  if (!FUrlParts.ExtraInfo.isEmpty()) FUrlParts.ExtraInfo = EncodeUrlQuery(FUrlParts.ExtraInfo);
  FBody = FUrlParts.ExtraInfo.toLatin1();
  url1 = FUrlParts.ExtraInfo;
}

void TIEHTTP::SetRequestMethod(const QString& method) {
  if (working_status > 0) throw Exception(QStringLiteral("Cannot change parameters while processing request"));
  const QString upper = method.toUpper();
  if (upper != QLatin1String("GET") && upper != QLatin1String("POST"))
    throw Exception(QStringLiteral("Unsupported method. Allowed methods: GET, POST"));
  FRequestMethod = upper;
  if (upper == QLatin1String("POST"))
    content_type = FMultipartPOST
                       ? QStringLiteral("multipart/form-data; boundary=") + QString::fromLatin1(kMultipartBoundary)
                       : QStringLiteral("application/x-www-form-urlencoded");
  else
    content_type.clear();
}

void TIEHTTP::SetMultipartPOST(bool multipart) {
  refuseWhileBusy();
  FMultipartPOST = multipart;
  SetRequestMethod(multipart ? QStringLiteral("POST") : FRequestMethod);
}

void TIEHTTP::SetpostStr(const QString& text) {
  refuseWhileBusy();
  FpostStr = text;
}

void TIEHTTP::SetgetStr(const QString& text) {
  refuseWhileBusy();
  FgetStr = text;
}

void TIEHTTP::ExecuteURL(const QString& url) {
  SetURL(url);
  Execute();
}

void TIEHTTP::StopRequest(bool) {
  if (working_status > 0 && FState) {
    const std::lock_guard lock(FState->Mutex);
    FState->StopRequested = true;  // seen by the wait loop at its next pass
    FState->Signal();
  }
}

QString TIEHTTP::BuildObjectName() {
  QString target = FUrlParts.UrlPath;
  if (FRequestMethod == QLatin1String("GET")) target += FUrlParts.ExtraInfo;
  if (!FgetStr.isEmpty()) {
    target += (target.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + FgetStr;
    FgetStr.clear();
  }
  return target;
}

void TIEHTTP::AddExtraHeader(const QString& block) {
  if (!FExtraHeaders.isEmpty()) FExtraHeaders += QStringLiteral("\r\n");
  FExtraHeaders += block;
}

bool TIEHTTP::PrepareRequest() {
  const bool isGet = FRequestMethod == QLatin1String("GET");
  if (isGet) FBody.clear();
  if (FBody.startsWith('?')) FBody.remove(0, 1);
  if (!FpostStr.isEmpty()) {
    if (!FBody.isEmpty()) FpostStr = QLatin1Char('&') + FpostStr;
    if (isGet) return false;  // "No poststr allowed in GET method": the request is not sent
    QString query = FUrlParts.ExtraInfo;
    if (query.startsWith(QLatin1Char('?'))) query.remove(0, 1);
    FBody = query.toUtf8() + FpostStr.toUtf8();
    FpostStr.clear();
  }
  if (FRequestMethod != QLatin1String("POST"))
    content_type.clear();
  else if (content_type.isEmpty())
    content_type = QStringLiteral("application/x-www-form-urlencoded");
  if (!content_type.isEmpty() && !content_type.contains(QLatin1String("Content-Type:")))
    content_type = QStringLiteral("Content-Type: ") + content_type;
  FExtraHeaders.clear();
  if (!content_type.isEmpty()) AddExtraHeader(content_type);
  if (!proxy_username.isEmpty())
    AddExtraHeader(QStringLiteral("Proxy-Authorization: Basic ") +
                   Base64Encode(ToWindows1252(proxy_username + QLatin1Char(':') + proxy_password)));
  if (!request_headers.isEmpty()) AddExtraHeader(request_headers.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
  if (!headersAreSafe()) return false;
  if (content_type.toLower().contains(QLatin1String("multipart"))) BuildMultipartBody();
  return error_msg.isEmpty();
}

bool TIEHTTP::headersAreSafe() {
  for (const QString& line : QStringList{http_agent_string, content_type} + request_headers)
    if (BreaksHeaderLine(line)) {
      error_msg = QStringLiteral("A header line contains CR, LF or NUL: %1")
                      .arg(line.left(line.indexOf(QLatin1Char(':'))).simplified());
      return false;
    }
  return true;
}

void TIEHTTP::Execute() {
  if (working_status != 0 &&
      !AskConfirmation(QStringLiteral("Request is in progress (iehttp). Override and continue?")))
    return;
  working_status = 1;
  error_code = error = bytes_read_total = 0;
  ContentSize = 0;
  error_msg.clear();
  if (FURL.isEmpty()) {
    working_status = 0;
    throw Exception(QStringLiteral("TIEHTTP: no url in execute method"));
  }
  const std::shared_ptr<bool> alive = FAlive;
  struct EndOfRequest {
    TIEHTTP* self;
    std::shared_ptr<bool> alive;
    ~EndOfRequest() {
      if (!*alive) return;
      if (self->FState) abandon(*self->FState);  // e.g. after a handler raised
      self->multipartVars.clear();
      self->multipartBinaryVars.clear();
      self->working_status = 0;
      if (self->FMultipartPOST) self->FBody.clear();
      self->FState.reset();
      self->event_handle.reset();
      self->ie_thread = {};
      self->ie_thread_finished = true;
    }
  } endOfRequest{this, alive};

  result_sl.clear();
  result_raw.clear();
  result_ms = std::make_unique<QBuffer>();
  result_ms->open(QIODevice::ReadWrite);
  debug_total_packets = debug_total_packet_events = debug_total_timer_events = 0;

  const QString target = BuildObjectName();
  const bool send = PrepareRequest();
  if (send) {
    auto state = std::make_shared<IeRequestState>();
    state->Agent = http_agent_string;
    state->Host = FUrlParts.HostName;
    state->Port = FUrlParts.Port;
    state->User = username;
    state->Password = username.isEmpty() ? QString() : password;
    state->Method = FRequestMethod;
    state->Target = target;
    state->ExtraHeaders = FExtraHeaders;
    state->Body = FBody;
    state->WantsPacketEvents = static_cast<bool>(OnPacketRead);
    state->TimeoutSeconds = Timeout;
    state->MaxBytes = replyLimit();
    state->ResetDeadline();
    FState = state;
    event_handle = std::shared_ptr<std::condition_variable>(state, &state->Wake);
    ie_thread_finished = false;
    ie_thread = TTimeout::Start(state);
    const bool completed = waitForWorker(state, alive);
    if (!*alive) return;
    ie_thread_finished = true;
    if (completed) takeResults(*state);
    RequestCompleted();
  }
  decodeResult();

  working_status = 0;
  if (error > 0) throw Exception(QStringLiteral("wininet error # %1 : %2").arg(error).arg(WinInetErrorText(error)));
  if (!error_msg.isEmpty()) throw Exception(QStringLiteral("tiehttp error: ") + error_msg);
}

bool TIEHTTP::waitForWorker(const std::shared_ptr<IeRequestState>& state, const std::shared_ptr<bool>& alive) {
  qint32 packetsProcessed = 0;
  for (;;) {
    bool finished = false, newPacket = false, stop = false, timedOut = false;
    {
      std::unique_lock lock(state->Mutex);
      // Never past the deadline, so a time-out is seen when it falls due.
      qint64 wait = BlockingMode ? 500 : 10;
      if (Timeout > 0) wait = std::clamp<qint64>(state->Deadline - nowMs() + 1, 1, wait);
      Clock::Current().WaitMs(wait, [&](qint64 realMs) {
        return state->Wake.wait_for(lock, std::chrono::milliseconds(realMs), [&] { return state->Signalled; });
      });
      state->Signalled = false;
      finished = state->Finished;
      newPacket = state->Packets > packetsProcessed;
      packetsProcessed = state->Packets;
      bytes_read_total = state->BytesRead;
      ContentSize = state->ContentSize;
      debug_total_packets = state->Packets;
      timedOut = !finished && Timeout > 0 && nowMs() > state->Deadline;
    }
    // Every pass runs the events, the last one included, and then looks at the stop flag.
    if (OnPacketRead && newPacket) {
      ++debug_total_packet_events;
      OnPacketRead(this);
      if (!*alive) return false;
    }
    if (OnTimer && TimerIntervalSeconds > 0 &&
        (!FLastTimerProcessed || nowMs() > *FLastTimerProcessed + qint64(TimerIntervalSeconds) * 1000)) {
      FLastTimerProcessed = nowMs();
      ++debug_total_timer_events;
      OnTimer(this);
      if (!*alive) return false;
    }
    if (!BlockingMode) {
      QCoreApplication::processEvents();
      if (!*alive) return false;
    }
    {
      const std::lock_guard lock(state->Mutex);
      stop = state->StopRequested;
    }
    if (stop || timedOut) {
      abandon(*state);
      working_status = 0;
      error_code = stop ? 101 : 100;
      return false;
    }
    if (finished) return true;
  }
}

qint64 TIEHTTP::replyLimit() const {
  return std::clamp<qint64>(MaxReplyBytes, 0, std::numeric_limits<qint32>::max());  // the counts are 32-bit
}

void TIEHTTP::takeResults(IeRequestState& state) {
  const std::lock_guard lock(state.Mutex);
  result_ms->buffer() = state.Received;
  bytes_read_total = state.BytesRead;
  ContentSize = state.ContentSize;
  debug_total_packets = state.Packets;
  if (state.HeadersQueried) cookies = state.Cookies;  // a request that failed before its headers keeps the old ones
  if (state.HeadersRead) response_headers = state.ResponseHeaders;
  error = state.Error;
  if (!state.ErrorMsg.isEmpty()) error_msg = state.ErrorMsg;
}

void TIEHTTP::decodeResult() {
  result_ms->seek(0);
  DecodeContent(result_ms, FURL, unzip_method, replyLimit() / kHeldPerByte + 1);
  result_ms->seek(0);
  if (heldBytes(result_ms->data()) > replyLimit()) {
    result_ms = std::make_unique<QBuffer>();
    result_ms->open(QIODevice::ReadWrite);
    if (error_msg.isEmpty()) error_msg = tooLarge(replyLimit());
  }
  result_raw = result_ms->data();
  const QString headers = response_headers.join(QStringLiteral("\r\n"));
  QString text;
  if (headers.contains(QLatin1String("charset=utf-8"))) {
    text = QString::fromUtf8(result_raw);
  } else if (headers.contains(QLatin1String("charset=utf-16"))) {
    const auto* units = reinterpret_cast<const char16_t*>(result_raw.constData());
    qsizetype count = 0;
    while (count < result_raw.size() / 2 && units[count] != 0) ++count;
    text = QString(reinterpret_cast<const QChar*>(units), count);
  } else {
    text = FromWindows1252(result_raw);
  }
  result_sl = splitTextLines(text);
}

QString TIEHTTP::GetStringPercentage() const {
  const QLocale locale;
  const QString status =
      ContentSize != 0 ? locale.toString(qRound64(GetProgressPercentage())) + QLatin1Char('%') : QStringLiteral("[]");
  return QStringLiteral("Bytes Read: %1 \rTotal File Size: %2\rStatus: %3 done")
      .arg(locale.toString(bytes_read_total), locale.toString(qint64(ContentSize)), status);
}

bool TIEHTTP::CheckIEOnline() const {
  quint32 state = 0;
  return InternetQueryOptionDword(0, INTERNET_OPTION_CONNECTED_STATE, state) && state == INTERNET_STATE_CONNECTED;
}

void TIEHTTP::AddRequestHeader(const QString& header_name, const QString& value) {
  if (BreaksHeaderLine(header_name) || BreaksHeaderLine(value))
    throw Exception(QStringLiteral("tiehttp: A header name or value contains CR, LF or NUL"));
  QString name = header_name.trimmed();
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  DeleteRequestHeader(name);
  request_headers << name + QStringLiteral(": ") + value;
}

void TIEHTTP::DeleteRequestHeader(const QString& header_name) {
  const int index = headerIndex(request_headers, header_name);
  if (index >= 0) request_headers.removeAt(index);
}

int TIEHTTP::GetRequestHeaderIdx(const QString& header_name) const { return headerIndex(request_headers, header_name); }

QString TIEHTTP::GetRequestHeaderValue(const QString& header_name) const {
  return headerValue(request_headers, header_name);
}

int TIEHTTP::GetResponseHeaderIdx(const QString& header_name) const {
  return headerIndex(response_headers, header_name);
}

QString TIEHTTP::GetResponseHeaderValue(const QString& header_name) const {
  return headerValue(response_headers, header_name);
}
