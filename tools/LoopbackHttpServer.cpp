#include "tools/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace {

constexpr std::size_t kMaxHeaderBytes = 1 << 20;
constexpr std::size_t kChunk = 64 * 1024;

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool sendAll(int socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Parses the request line and headers of `head` (without the blank line) into `request`.
void parseHead(const std::string& head, HttpRequest& request) {
  std::size_t lineStart = 0;
  bool first = true;
  while (lineStart < head.size()) {
    std::size_t lineEnd = head.find("\r\n", lineStart);
    if (lineEnd == std::string::npos) lineEnd = head.size();
    const std::string line = head.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    if (first) {
      first = false;
      const auto space1 = line.find(' ');
      const auto space2 = line.rfind(' ');
      request.Method = line.substr(0, space1);
      if (space1 != std::string::npos && space2 > space1) {
        request.Target = line.substr(space1 + 1, space2 - space1 - 1);
        request.Version = line.substr(space2 + 1);
      }
      continue;
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos)
      request.Headers.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
  }
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  const std::string wanted = lowered(name);
  for (const auto& [key, value] : Headers)
    if (lowered(key) == wanted) return value;
  return {};
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler, std::uint16_t port) : FHandler(std::move(handler)) {
  FListener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (FListener < 0) throw std::runtime_error("socket() failed");
  const int yes = 1;
  ::setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(FListener, 64) != 0) {
    ::close(FListener);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  socklen_t length = sizeof address;
  ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = ntohs(address.sin_port);
  FAcceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() { Stop(); }

std::string LoopbackHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(FPort); }

std::vector<HttpRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard lock(FMutex);
  return FRequests;
}

void LoopbackHttpServer::Stop() {
  if (FStopping.exchange(true)) return;
  ::shutdown(FListener, SHUT_RDWR);
  if (FAcceptThread.joinable()) FAcceptThread.join();
  ::close(FListener);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(FMutex);
    for (int socket : FSockets) ::shutdown(socket, SHUT_RDWR);
    threads.swap(FThreads);
  }
  for (auto& thread : threads) thread.join();
}

void LoopbackHttpServer::acceptLoop() {
  while (!FStopping) {
    pollfd waiting{FListener, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) continue;
    const int socket = ::accept(FListener, nullptr, nullptr);
    if (socket < 0) continue;
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    const int id = ++FConnections;
    std::lock_guard lock(FMutex);
    FSockets.push_back(socket);
    FThreads.emplace_back([this, socket, id] { serve(socket, id); });
  }
}

bool LoopbackHttpServer::waitUnlessStopping(int milliseconds) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < until) {
    if (FStopping) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !FStopping;
}

void LoopbackHttpServer::serve(int socket, int connectionId) {
  std::string pending;
  char buffer[kChunk];
  bool open = true;
  while (open && !FStopping) {
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      if (pending.size() > kMaxHeaderBytes) {
        open = false;
        break;
      }
      const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      if (got <= 0) {
        open = false;
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(got));
    }
    if (!open) break;
    HttpRequest request;
    request.ConnectionId = connectionId;
    parseHead(pending.substr(0, headEnd), request);
    const std::size_t bodyLength = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
    std::size_t consumed = headEnd + 4;
    while (pending.size() < consumed + bodyLength) {
      const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      if (got <= 0) {
        open = false;
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(got));
    }
    if (!open) break;
    request.Body = pending.substr(consumed, bodyLength);
    request.Raw = pending.substr(0, consumed + bodyLength);
    pending.erase(0, consumed + bodyLength);
    {
      std::lock_guard lock(FMutex);
      FRequests.push_back(request);
    }
    const HttpReply reply = FHandler(request);
    const bool keepAlive = request.Version == "HTTP/1.1" && lowered(request.Header("Connection")) != "close";
    open = sendReply(socket, request, reply) && keepAlive && !reply.Close;
  }
  ::shutdown(socket, SHUT_RDWR);
  std::lock_guard lock(FMutex);
  FSockets.erase(std::remove(FSockets.begin(), FSockets.end(), socket), FSockets.end());
  ::close(socket);
}

bool LoopbackHttpServer::sendReply(int socket, const HttpRequest& request, const HttpReply& reply) {
  const std::uint64_t length = reply.Source ? reply.Source->Length : reply.Body.size();
  std::string head = "HTTP/1.1 " + std::to_string(reply.Status) + ' ' + reply.Reason + "\r\n";
  for (const auto& [name, value] : reply.Headers) head += name + ": " + value + "\r\n";
  if (!reply.OmitContentLength) head += "Content-Length: " + std::to_string(length) + "\r\n";
  head += "\r\n";
  if (!sendAll(socket, head.data(), head.size())) return false;
  if (!reply.SendBody || request.Method == "HEAD") return true;

  std::uint64_t sent = 0;
  const std::uint64_t limit = std::min(length, reply.DropAfterBytes.value_or(length));
  char chunk[kChunk];
  while (sent < limit) {
    if (reply.StallAfterBytes && sent == *reply.StallAfterBytes && !waitUnlessStopping(reply.StallMilliseconds))
      return false;
    std::uint64_t step = std::min<std::uint64_t>(kChunk, limit - sent);
    if (reply.StallAfterBytes && sent < *reply.StallAfterBytes) step = std::min(step, *reply.StallAfterBytes - sent);
    std::size_t got = static_cast<std::size_t>(step);
    const char* data = chunk;
    if (reply.Source) {
      got = reply.Source->Read(sent, chunk, got);
      if (got == 0) return false;
    } else {
      data = reply.Body.data() + sent;
    }
    if (!sendAll(socket, data, got)) return false;
    FBodyBytesSent += got;
    sent += got;
  }
  return sent == length;  // a dropped reply ends the connection
}
