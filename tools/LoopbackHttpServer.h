// A small HTTP/1.1 server on 127.0.0.1 for the demo service, the tests and the benchmarks.
// Keeps connections alive, records every request with its raw bytes, and lets a handler
// script faults: a stall, a dropped connection, a body shorter than announced.
//
// Each connection is served on a thread of its own; the handler must be thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct HttpRequest {
  std::string Method;
  std::string Target;
  std::string Version;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  std::string Raw;       // the request exactly as received
  int ConnectionId = 0;  // 1 for the first connection accepted, then 2, ...

  // The first header of that name, matched without regard to case ("" when none).
  std::string Header(const std::string& name) const;
};

// A body produced on demand, so that large packages are never held whole in memory.
struct BodySource {
  std::uint64_t Length = 0;
  // Copies up to `max` bytes from `offset` into `out`; returns the count copied.
  std::function<std::size_t(std::uint64_t offset, char* out, std::size_t max)> Read;
};

struct HttpReply {
  int Status = 200;
  std::string Reason = "OK";
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;  // used when no Source is given
  std::optional<BodySource> Source;
  bool OmitContentLength = false;                // by default Content-Length is the body's length
  bool SendBody = true;                          // false for HEAD replies
  std::optional<std::uint64_t> DropAfterBytes;   // close the connection after this much body
  std::optional<std::uint64_t> StallAfterBytes;  // then wait StallMilliseconds
  int StallMilliseconds = 0;
  bool Close = false;  // close the connection after the reply
};

class LoopbackHttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  // Listens on 127.0.0.1:`port` (0 picks a free port). Raises std::runtime_error on failure.
  explicit LoopbackHttpServer(Handler handler, std::uint16_t port = 0);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  std::string BaseUrl() const;  // "http://127.0.0.1:<port>"
  int ConnectionCount() const { return FConnections.load(); }
  // Reply body bytes sent so far, every reply and connection together: a reply dropped by
  // DropAfterBytes counts what went out before the drop; a chunk the peer stopped reading
  // midway is not counted. Any thread.
  std::uint64_t BodyBytesSent() const { return FBodyBytesSent.load(); }
  std::vector<HttpRequest> Requests() const;
  // Stops accepting, closes every connection and joins the threads.
  void Stop();

 private:
  void acceptLoop();
  void serve(int socket, int connectionId);
  bool sendReply(int socket, const HttpRequest& request, const HttpReply& reply);
  bool waitUnlessStopping(int milliseconds) const;

  Handler FHandler;
  int FListener = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStopping{false};
  std::atomic<int> FConnections{0};
  std::atomic<std::uint64_t> FBodyBytesSent{0};
  mutable std::mutex FMutex;  // guards the members below
  std::vector<HttpRequest> FRequests;
  std::vector<int> FSockets;
  std::vector<std::thread> FThreads;
  std::thread FAcceptThread;
};
