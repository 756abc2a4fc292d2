// A synchronous HTTP client on one kept-alive connection: HEAD, GET with a Range header,
// POST of a multipart form. While a reply body arrives it raises the transfer events on
// the calling thread, so their handlers may pump the message queue; OnWait is raised at
// short intervals whenever the server sends nothing, so a silent server never freezes the
// caller. Cookies set by replies are sent back; redirects are not followed.
//
// Every request raises Exception on a transport failure or a reply status of 300 or more
// (the status line is the message). Not thread-safe: one request at a time.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <limits>
#include <memory>

#include "platform/net/TransportSecurity.h"

class HttpForm;

enum class WorkMode { Read, Write };

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // A header sent with every request; "Accept" and "User-Agent" are preset.
  void SetRequestHeader(const QByteArray& name, const QByteArray& value);
  // A reply body larger than this fails the request instead of exhausting memory; the body
  // of a 206 (partial content) reply is held to `partialBytes` when given.
  void SetMaxBodySize(qint64 bytes, qint64 partialBytes = -1) {
    FMaxBodySize = bytes;
    FMaxPartialBodySize = partialBytes < 0 ? bytes : partialBytes;
  }
  // The schemes, certificate checks and extra CAs in force (see TransportSecurity.h); the
  // constructor applies the defaults. Raises Exception for an unreadable CA file.
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
  // then raises Exception unless its body was already complete.
  void Disconnect() { FDropRequested = true; }

 private:
  enum class Method { Head, Get, Post };
  struct Handles;

  void perform(Method method, const QString& url, QByteArray* body);
  struct TransferEvents {
    bool beginRaised = false;
    qint64 reportedCount = -1;
    qint64 lastEventMs = 0;  // when the caller last heard of this transfer
  };

  void runTransfer(const QString& url, bool raisesWorkEvents);
  void raiseTransferEvents(TransferEvents& events, qint64 nowMs);
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  qint64 maxBodySize() const { return FResponseCode == 206 ? FMaxPartialBodySize : FMaxBodySize; }

  std::unique_ptr<Handles> FHandles;
  qint64 FMaxBodySize = std::numeric_limits<qint64>::max();
  qint64 FMaxPartialBodySize = std::numeric_limits<qint64>::max();
  QByteArray* FBody = nullptr;  // where the current reply body goes
  QByteArray FRangeHeader;      // the current request's Range value
  QByteArray FPostBody;         // the current POST's body and its content type
  QByteArray FPostContentType;
  QByteArray FStatusLine;
  int FResponseCode = 0;
  qint64 FContentLength = -1;
  qint64 FReceived = 0;       // body bytes of the current reply
  bool FHeadersDone = false;  // the final header block of the current reply is in
  bool FTooLarge = false;
  bool FDropRequested = false;
  bool FBusy = false;
};
