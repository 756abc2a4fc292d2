// A bare TCP server on a loopback address for byte-exact wire checks: it records each
// request exactly as it arrives (head and announced body) and answers it with fixed bytes,
// then closes the connection. One connection at a time, on a thread of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class RawReplyServer {
 public:
  // Listens on 127.0.0.1, or on ::1 when `ipv6`; raises std::runtime_error when it cannot.
  explicit RawReplyServer(std::string reply, bool ipv6 = false) : FReply(std::move(reply)) {
    FListener = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (FListener < 0) throw std::runtime_error("socket() failed");
    int bound = -1;
    if (ipv6) {
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_addr = in6addr_loopback;
      bound = ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bound = ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (bound != 0 || ::listen(FListener, 8) != 0) {
      ::close(FListener);
      throw std::runtime_error("bind() or listen() failed");
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&local), &length);
    FPort = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    FThread = std::thread([this] { serve(); });
  }
  ~RawReplyServer() {
    FStopping = true;
    FThread.join();
    ::close(FListener);
  }
  RawReplyServer(const RawReplyServer&) = delete;
  RawReplyServer& operator=(const RawReplyServer&) = delete;

  int Port() const { return FPort; }
  std::vector<std::string> Requests() const {
    const std::lock_guard lock(FMutex);
    return FRequests;
  }

 private:
  bool readable(int socket) const {
    pollfd wanted{socket, POLLIN, 0};
    while (!FStopping)
      if (::poll(&wanted, 1, 20) > 0) return true;
    return false;
  }

  void serve() {
    while (readable(FListener)) {
      const int socket = ::accept(FListener, nullptr, nullptr);
      if (socket < 0) continue;
      std::string request;
      char chunk[4096];
      while (!complete(request) && readable(socket)) {
        const ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        request.append(chunk, static_cast<std::size_t>(got));
      }
      {
        const std::lock_guard lock(FMutex);
        FRequests.push_back(request);
      }
      ::send(socket, FReply.data(), FReply.size(), MSG_NOSIGNAL);
      ::shutdown(socket, SHUT_RDWR);
      ::close(socket);
    }
  }

  // The head is in, and as much body as it announces.
  static bool complete(const std::string& request) {
    const auto end = request.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    std::string head = request.substr(0, end);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto length = head.find("\r\ncontent-length:");
    if (length == std::string::npos) return true;
    return request.size() >= end + 4 + std::strtoull(head.c_str() + length + 17, nullptr, 10);
  }

  std::string FReply;
  int FListener = -1;
  int FPort = 0;
  std::atomic<bool> FStopping{false};
  mutable std::mutex FMutex;
  std::vector<std::string> FRequests;
  std::thread FThread;
};
