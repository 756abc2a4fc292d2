// TIEHTTP: one HTTP GET or POST at a time through the WinInet-like layer, run on a worker
// thread while the calling thread waits in a loop that fires OnPacketRead and OnTimer,
// enforces an inactivity time-out and honours StopRequest. The reply comes back as bytes,
// as a stream and as text lines, with its headers and cookies; compressed replies are
// decoded, multipart bodies built from two variable lists.
//
// The worker shares only a request state of its own with the component: after a stop, a
// time-out or even the component's destruction it finishes harmlessly and its late output
// is discarded.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/net/WinInet.h"

struct TMultipartVar {
  QString f;  // field name
  QString v;  // value
};

struct TMultipartBinaryVar {
  QString f;     // field name
  QString fn;    // file name, may be empty
  QByteArray v;  // content
};

inline const QByteArray kMultipartBoundary = "-----------------------------7cf87224d2020a";

// The default of TIEHTTP::MaxReplyBytes.
inline constexpr qint64 kDefaultMaxReplyBytes = qint64(256) << 20;

struct IeRequestState;

class TIEHTTP {
 public:
  TIEHTTP();
  ~TIEHTTP();
  TIEHTTP(const TIEHTTP&) = delete;
  TIEHTTP& operator=(const TIEHTTP&) = delete;

  // Properties.
  QString URL() const { return FURL; }
  void SetURL(const QString& url);
  QString RequestMethod() const { return FRequestMethod; }
  void SetRequestMethod(const QString& method);
  bool MultipartPOST() const { return FMultipartPOST; }
  void SetMultipartPOST(bool multipart);
  QString postStr() const { return FpostStr; }
  void SetpostStr(const QString& text);
  QString getStr() const { return FgetStr; }
  void SetgetStr(const QString& text);
  int Timeout = 90;              // seconds of silence before a request is given up; <= 0: never
  int TimerIntervalSeconds = 0;  // period of OnTimer; <= 0: off
  bool BlockingMode = true;      // false: the wait loop also processes window messages
  // Fired on the calling thread: OnPacketRead when data arrived since the last pass of the
  // wait loop (so at least once per request, with the final count), OnTimer every
  // TimerIntervalSeconds. What they raise ends the request and leaves Execute.
  std::function<void(TIEHTTP* sender)> OnPacketRead;
  std::function<void(TIEHTTP* sender)> OnTimer;
  // The most memory a reply may take as the component holds it: the bytes received, decoded,
  // and as text and lines (about five bytes per byte of body, plus each line's own cost). A
  // larger reply ends the request with "The reply is larger than the limit of N bytes.".
  // At most 2 GiB - 1 counts.
  qint64 MaxReplyBytes = kDefaultMaxReplyBytes;

  // Results and settings read or set directly.
  QByteArray result_raw;
  std::unique_ptr<QBuffer> result_ms;
  QStringList result_sl;
  QStringList response_headers;
  QStringList request_headers;
  QStringList cookies;
  qint32 error = 0;
  QString error_msg;
  qint32 error_code = 0;  // 100 after a time-out, 101 after a stop
  qint32 working_status = 0;
  quint32 ContentSize = 0;
  qint32 bytes_read_total = 0;
  QString content_type;
  QString http_agent_string = QStringLiteral("tiehttp");
  QString username, password;
  QString proxy_username, proxy_password;
  char unzip_method = 0;
  QString url1;
  std::vector<TMultipartVar> multipartVars;
  std::vector<TMultipartBinaryVar> multipartBinaryVars;
  std::thread::id ie_thread;  // the running worker, or none
  bool ie_thread_finished = true;
  std::shared_ptr<std::condition_variable> event_handle;  // the wake-up event while a request runs
  qint32 debug_total_packets = 0, debug_total_packet_events = 0, debug_total_timer_events = 0;

  // Runs one request; raises Exception on failure (time-outs and stops raise nothing), or
  // what an event handler raised. Every way out ends the worker's transfer.
  void Execute();
  void ExecuteURL(const QString& url);
  void StopRequest(bool wait);
  bool Canceled() const { return error_code == 101; }
  float GetProgress() const { return ContentSize == 0 ? 0.0f : float(bytes_read_total) / float(ContentSize); }
  float GetProgressPercentage() const { return 100.0f * GetProgress(); }
  QString GetStringPercentage() const;
  bool CheckIEOnline() const;

  // Raises Exception when the name or value holds CR, LF or NUL (it would add lines).
  void AddRequestHeader(const QString& header_name, const QString& value);
  void DeleteRequestHeader(const QString& header_name);
  int GetRequestHeaderIdx(const QString& header_name) const;
  QString GetRequestHeaderValue(const QString& header_name) const;
  int GetResponseHeaderIdx(const QString& header_name) const;
  QString GetResponseHeaderValue(const QString& header_name) const;
  // Called when a request ends; a hook for derived components.
  virtual void RequestCompleted() {}

  // Multipart variables (only in multipart mode; otherwise error_msg says so).
  void AddMultipartVar(const QString& field, const QString& value) { AddMultipartVarW(field, value); }
  void AddMultipartVarW(const QString& field, const QString& value);
  void AddMultipartVarA(const QString& field, const QByteArray& value) { AddMultipartVarBin(field, QString(), value); }
  void AddMultipartVarBin(const QString& field, const QString& fn, const QByteArray& value);
  void AddMultipartVar_B64(const QString& field, const QByteArray& value);
  void AddMultipartFile(const QString& field, const QString& filename);
  void AddMultipartStream(const QString& field, const QBuffer& ms);
  void AddMultipartFormFile(const QString& field, const QString& filename);
  QByteArray FileToB64String(const QString& filename) const;

 private:
  void CrackURL();
  QString BuildObjectName();
  bool PrepareRequest();
  void BuildMultipartBody();
  void AddExtraHeader(const QString& block);
  bool waitForWorker(const std::shared_ptr<IeRequestState>& state, const std::shared_ptr<bool>& alive);
  void takeResults(IeRequestState& state);
  void decodeResult();
  bool headersAreSafe();
  qint64 replyLimit() const;
  void refuseWhileBusy() const;

  QString FURL;
  QString FRequestMethod = QStringLiteral("GET");
  bool FMultipartPOST = false;
  QString FpostStr;
  QString FgetStr;
  wininet::UrlComponents FUrlParts;
  QByteArray FBody;  // the request body: seeded with the query, rebuilt for each request
  QString FExtraHeaders;
  std::optional<qint64> FLastTimerProcessed;  // on the Clock; never reset, so the first check fires at once
  std::shared_ptr<IeRequestState> FState;     // of the request in progress
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
