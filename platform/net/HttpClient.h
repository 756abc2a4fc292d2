// A synchronous HTTP client on kept-alive connections: HEAD, GET with a Range header, POST
// of a multipart form, and several ranged GETs of one URL in flight at once. While a reply body arrives it raises the
// transfer events on the calling thread, so their handlers may pump the message queue; OnWait is raised at short
// intervals whenever the server sends nothing, so a silent server never freezes the caller. Cookies set by replies are
// sent back; redirects are not followed.
//
// Only http and https are fetched, and certificates are always verified (TransportSecurity.h).
//
// Every request raises Exception on a transport failure (TransportSecurityError when the
// secure connection is refused) or, unless turned off, a reply status of 300 or more (the
// status line is the message). Not thread-safe: one request at a time.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "platform/net/TransportSecurity.h"

class HttpForm;
namespace net {
class Transfer;
struct RequestOptions;
}  // namespace net

enum class WorkMode { Read, Write };

// One ranged GET for HttpClient::StartRange.
struct RangeRequest {
  QString Url;
  QByteArray Range;                                            // the Range header's value, "bytes=0-32767"
  QList<QByteArray> ExtraHeaders;                              // further "Name: value" lines, such as an If-Range
  qint64 Tag = 0;                                              // comes back with the reply
  qint64 MaxBody = std::numeric_limits<qint64>::max();         // for a reply that is not a 206
  qint64 MaxPartialBody = std::numeric_limits<qint64>::max();  // for a 206
};

// How a ranged GET ended.
struct RangeReply {
  enum class Outcome {
    Replied,         // a whole reply arrived, whatever its status
    TransientError,  // no whole reply, for a reason that may pass: reset, refused, closed, time-out
    Error,           // no whole reply, and asking again would not help (too large, not HTTP...)
  };
  // An error status (300 or more) whose page was longer than the body limit is Replied, with
  // the page cut: its status is what counts.
  qint64 Tag = 0;
  Outcome Result = Outcome::Replied;
  int Status = 0;  // 0 when no status line arrived
  QByteArray Body;
  QByteArray ContentRange;  // the reply's Content-Range, empty when none
  QByteArray RetryAfter;    // the reply's Retry-After, empty when none
  QByteArray ETag;          // the reply's ETag, empty when none
  QByteArray LastModified;  // the reply's Last-Modified, empty when none
  QString FailureText;      // why, unless Replied
};

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // A header sent with every request; "Accept" and "User-Agent" are preset.
  void SetRequestHeader(const QByteArray& name, const QByteArray& value);
  // Drops every header set so far, the presets included: a request then carries only what
  // it needs (Host, its Range or its body's type and length, cookies).
  void ClearRequestHeaders() { FHeaders.clear(); }
  // false: a reply status of 300 or more is returned like any other reply instead of raised.
  void SetRaisesOnErrorStatus(bool raises) { FRaisesOnErrorStatus = raises; }
  // A reply body larger than this fails the request instead of exhausting memory; the body
  // of a 206 (partial content) reply is held to `partialBytes` when given.
  void SetMaxBodySize(qint64 bytes, qint64 partialBytes = -1) {
    FMaxBodySize = bytes;
    FMaxPartialBodySize = partialBytes;
  }
  // The extra CAs in force (see TransportSecurity.h); the system's store alone by default.
  // Raises Exception for an unreadable CA file, and the settings stay as they were.
  void SetTransportSecurity(const TransportSecurity& security);

  // Transfer events, raised while a reply body arrives: begin once with the announced
  // size (0 when none), work with the count received so far, end when the body is over.
  std::function<void(WorkMode mode, qint64 countMax)> OnWorkBegin;
  std::function<void(WorkMode mode, qint64 count)> OnWork;
  std::function<void(WorkMode mode)> OnWorkEnd;
  // Raised about every 50 ms while a request waits for data.
  std::function<void()> OnWait;

  // The reply's Content-Length, or -1 when it announces none.
  qint64 Head(const QString& url);
  // The reply body into `body` (emptied first); `range` is the Range header's value
  // ("bytes=0-32767") or empty for none.
  void Get(const QString& url, const QByteArray& range, QByteArray& body);
  // POSTs `form` as multipart/form-data over HTTP/1.0; returns the reply body.
  QByteArray Post(const QString& url, const HttpForm& form);

  // The status code of the last reply (0 when none arrived).
  int ResponseCode() const { return FResponseCode; }
  // The first value of the reply header `name` (case-insensitive) in the last reply;
  // empty when it had none.
  QByteArray ResponseHeader(const char* name) const;

  // Drops the connection; safe from inside a transfer event. The request in progress
  // then raises Exception unless its body was already complete; so do the ranges in flight.
  // With nothing in flight there is nothing to drop: later requests run as usual.
  void Disconnect() { FDropRequested = true; }

  // Ranges in flight. They use the request headers, cookies and transport security above,
  // share at most `connections` connections to a host (1 by default; HTTP/2 streams of a
  // TLS server share one), and leave the single requests above unusable until they are
  // all over. Replies come back in the order they end.
  void SetConnectionLimit(int connections);
  int ConnectionLimit() const { return FConnectionLimit; }
  // Starts `request`; raises Exception while a single request runs.
  void StartRange(const RangeRequest& request);
  int RangesInFlight() const;
  // Runs the ranges in flight until one or more end and returns those. While bodies arrive
  // it raises OnWork with the bytes the ranges in flight have received so far (no begin or
  // end event), and OnWait when nothing arrives. When nothing at all arrives for 60 s, every
  // range in flight ends as a transient error. Raises Exception "Connection closed." after
  // Disconnect (every range is dropped), and TransportSecurityError when a secure connection
  // is refused (every range is dropped too).
  std::vector<RangeReply> WaitForRanges();
  // Drops every range in flight and closes its connection.
  void DropRanges();

 private:
  enum class Method { Head, Get, Post };
  struct TransferEvents {
    bool beginRaised = false;
    qint64 reportedCount = -1;
    qint64 lastEventMs = 0;  // when the caller last heard of this transfer
  };

  void perform(Method method, const QString& url, QByteArray* body);
  // The one place a request's options are made (settings that apply to the easy handle,
  // such as transport security, join through RequestOptions::ExtraOptions).
  net::RequestOptions requestOptions(Method method, const QString& url) const;
  void runTransfer(const QString& url, QByteArray* body);
  void raiseTransferEvents(TransferEvents& events, qint64 nowMs);

  struct RangeSlot;
  struct CurlHandles;
  RangeReply finishedRange(RangeSlot& slot);
  void raiseRangeProgress(qint64& reported, qint64& lastEventMs, qint64 nowMs);

  std::unique_ptr<CurlHandles> FCurl;  // the multi handle and the share, before the transfers
  std::unique_ptr<net::Transfer> FTransfer;
  std::vector<std::unique_ptr<RangeSlot>> FRanges;  // in flight and idle, reused
  int FConnectionLimit = 1;
  std::map<QByteArray, QByteArray> FHeaders;
  qint64 FMaxBodySize = std::numeric_limits<qint64>::max();
  qint64 FMaxPartialBodySize = -1;  // -1: as FMaxBodySize
  QByteArray FExtraCaBundle;        // the system's bundle and the extra CAs; empty for none
  QByteArray FRangeHeader;          // the current request's Range value
  QByteArray FPostBody;             // the current POST's body and its content type
  QByteArray FPostContentType;
  int FResponseCode = 0;
  qint64 FContentLength = -1;
  bool FDropRequested = false;
  bool FRaisesOnErrorStatus = true;
  bool FBusy = false;
};
