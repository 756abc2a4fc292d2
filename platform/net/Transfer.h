// The one libcurl transfer engine under HttpClient and the WinInet-like layer: an easy
// handle on a multi handle (its own, or one several transfers share), the reply header
// parser, the body buffer, the poll loop with its time-outs on the Clock, and the mapping
// of libcurl's failures. Internal to platform/net.
//
// Threads: one Transfer, and every transfer on a shared multi handle, is used by one thread at a time.
#pragma once

#include <curl/curl.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <limits>

#include "platform/net/CurlSupport.h"

namespace net {

// The final reply's header block as it arrives. A 1xx block is replaced by the next one.
struct ReplyHead {
  QByteArray StatusLine;      // without its line end
  int Status = 0;             // 0 until a status line arrived
  QList<QByteArray> Lines;    // the header lines after the status line, line ends removed
  QList<QByteArray> Cookies;  // the Set-Cookie values
  qint64 ContentLength = -1;  // -1 when absent or not a plain non-negative number
  bool Complete = false;      // the final (non-1xx) block is in
  bool NotHttp = false;       // the first line was no HTTP status line
};

// Takes one raw header line (with or without its line end) into `head`. Needs no network,
// so it can be exercised on its own.
void ParseHeaderLine(ReplyHead& head, QByteArray line);

// A Content-Length value: a plain decimal count, else -1.
qint64 ParseContentLength(const QByteArray& value);

// Why a transfer failed, in the words both clients translate into their own.
enum class Failure {
  None,
  TimedOut,
  NameNotResolved,
  CannotConnect,
  InvalidUrl,
  UnsupportedScheme,
  Certificate,       // the peer's certificate is not trusted, not for this host or out of date
  SecureConnection,  // the secure connection could not be set up
  InvalidReply,
  ConnectionReset,
  ConnectionAborted,
  TooLarge,
  Internal,
};

Failure FailureOf(CURLcode code);

enum class Method { Get, Head, Post, Custom };

// Everything one request sets on the easy handle.
struct RequestOptions {
  QByteArray Url;
  Method Verb = Method::Get;
  QByteArray CustomVerb;  // with Method::Custom
  bool Http10 = false;
  // HTTP/2 where a TLS server offers it, so that requests in flight together share one
  // connection; HTTP/1.1 otherwise.
  bool AllowHttp2 = false;
  CURLSH* Share = nullptr;    // the cookies (and what else it holds) shared with other handles
  QByteArray Body;            // with Method::Post
  QList<QByteArray> Headers;  // "Name: value" lines
  QByteArray UserAgent;       // none when empty
  QByteArray User, Password;  // none when User is empty
  bool KeepCookies = false;   // the cookie engine on: cookies of replies go back (stays on)
  bool VerifyPeer = true, VerifyHost = true;
  long ConnectTimeoutSeconds = 0;  // 0: libcurl's own limit
  // The last word on the easy handle's options for this request (e.g. transport security).
  // The handle is reused without a reset: set the same options on every request.
  std::function<void(CURL* easy)> ExtraOptions;
};

// What ends Drive.
enum class DriveEnd { Done, Finished, Cancelled, TimedOut };

struct DriveRules {
  std::function<bool()> Done;       // the caller has what it waited for
  std::function<bool()> Cancelled;  // the caller gave up
  std::function<void()> EachPass;   // runs on every pass, the last one included
  qint64 QuietLimitMs = 0;          // no byte for this long ends the drive; 0: no limit
  int PollMs = 50;                  // longest wait of one pass
};

class Transfer {
 public:
  // On `sharedMulti` when given (the caller's, outliving this transfer), else on a multi
  // handle of its own. Raises Exception when libcurl cannot make the handles.
  explicit Transfer(CURLM* sharedMulti = nullptr);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Sets the handle up for `options` (the one place a request gets its options) and
  // starts it; a transfer still running is dropped first, closing its connection.
  void Start(const RequestOptions& options);
  // Runs the transfer until `rules` end it or it finishes. On a shared multi handle, only
  // while no other transfer on it is running.
  DriveEnd Drive(const DriveRules& rules);
  // For several transfers on one shared multi handle: moves every one of them on, marking
  // those that ended; then waits up to `pollMs` (Clock time) for network activity.
  static void PerformAll(CURLM* multi);
  static bool WaitForActivity(CURLM* multi, int pollMs);
  // Leaves the transfer; an unfinished one loses its connection.
  void Stop();

  // Body bytes held beyond this pause the transfer until TakeBody makes room; 0: never.
  void SetPauseAt(qsizetype bytes) { FPauseAt = bytes; }
  // A body larger than this fails the transfer with Failure::TooLarge; the body of a 206
  // (partial content) reply is held to `partialBytes` instead when given. Decided per reply,
  // as its status arrives.
  void SetMaxBody(qint64 bytes, qint64 partialBytes = -1) {
    FMaxBody = bytes;
    FMaxPartialBody = partialBytes < 0 ? bytes : partialBytes;
  }

  const ReplyHead& Head() const { return FHead; }
  bool Finished() const { return FFinished; }
  // Failure::None while running and after success.
  Failure Result() const;
  // libcurl's words for the failure, for a person to read.
  QString FailureText() const;
  qint64 BodyReceived() const { return FBodyReceived; }
  // Header and body bytes received so far: tells a silent peer from a slow one.
  qint64 BytesSeen() const { return FBytesSeen; }
  bool HasBody() const { return !FPending.isEmpty(); }
  // Up to `max` held body bytes, removed from the buffer.
  QByteArray TakeBody(qsizetype max = std::numeric_limits<qsizetype>::max());

 private:
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onBody(char* data, size_t size, size_t count, void* self);

  CURL* FEasy = nullptr;
  CURLM* FMulti = nullptr;
  bool FOwnsMulti = false;
  CurlHeaderList FHeaderList;
  QByteArray FUrl, FBody, FAgent, FUser, FPassword, FCustomVerb;
  char FError[CURL_ERROR_SIZE] = {};
  bool FAttached = false;
  bool FCookieEngineOn = false;
  bool FFinished = false;
  CURLcode FResult = CURLE_OK;
  bool FTooLarge = false;
  bool FPaused = false;
  qsizetype FPauseAt = 0;
  qint64 FMaxBody = std::numeric_limits<qint64>::max();
  qint64 FMaxPartialBody = std::numeric_limits<qint64>::max();
  qint64 maxBodyOfThisReply() const { return FHead.Status == 206 ? FMaxPartialBody : FMaxBody; }
  ReplyHead FHead;
  QByteArray FPending;
  qint64 FBodyReceived = 0;
  qint64 FBytesSeen = 0;  // header and body bytes, to tell silence from progress
};

}  // namespace net
