#include "bench/LinkProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <stdexcept>

namespace {

using Moment = std::chrono::steady_clock::time_point;
using std::chrono::nanoseconds;

constexpr std::size_t kReadSize = 16 * 1024;
constexpr std::size_t kMaxAhead = 1024 * 1024;  // bytes read but not yet delivered, per direction

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

void noDelay(int socket) {
  const int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool sendAll(int socket, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// One direction of one connection: a reader puts what arrives on the link, a writer hands
// it over when it is due.
struct LinkProxy::Pump {
  struct Chunk {
    std::string Bytes;
    Moment DueAt;
  };

  int From = -1;
  int To = -1;
  Direction* Link = nullptr;
  double BytesPerSecond = 0;
  nanoseconds Delay{0};

  std::mutex Mutex;  // guards the members below
  std::condition_variable Changed;
  std::deque<Chunk> Queue;
  std::size_t Queued = 0;
  bool Ended = false;   // the sending side has finished or failed
  bool Broken = false;  // the receiving side failed, or the proxy stops

  void Break() {
    {
      const std::lock_guard lock(Mutex);
      Broken = true;
    }
    Changed.notify_all();
  }

  // When bytes read now leave the far end of the link.
  Moment Schedule(std::size_t bytes) {
    const Moment now = std::chrono::steady_clock::now();
    const auto sending = nanoseconds(static_cast<long long>(1e9 * static_cast<double>(bytes) / BytesPerSecond));
    const std::lock_guard lock(Link->Mutex);
    Link->FreeAt = std::max(now, Link->FreeAt) + sending;
    return Link->FreeAt + Delay;
  }

  void Read() {
    std::string buffer(kReadSize, '\0');
    for (;;) {
      {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [&] { return Queued < kMaxAhead || Broken; });
        if (Broken) break;
      }
      const ssize_t n = ::recv(From, buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      Chunk chunk{buffer.substr(0, static_cast<std::size_t>(n)), Schedule(static_cast<std::size_t>(n))};
      {
        const std::lock_guard lock(Mutex);
        Queued += chunk.Bytes.size();
        Queue.push_back(std::move(chunk));
      }
      Changed.notify_all();
    }
    {
      const std::lock_guard lock(Mutex);
      Ended = true;
    }
    Changed.notify_all();
  }

  void Write() {
    std::unique_lock lock(Mutex);
    for (;;) {
      Changed.wait(lock, [&] { return !Queue.empty() || Ended || Broken; });
      if (Broken) return;
      if (Queue.empty()) {  // everything sent has arrived: pass the end on
        ::shutdown(To, SHUT_WR);
        return;
      }
      const Moment due = Queue.front().DueAt;
      if (std::chrono::steady_clock::now() < due) {
        Changed.wait_until(lock, due, [&] { return Broken; });
        continue;
      }
      Chunk chunk = std::move(Queue.front());
      Queue.pop_front();
      Queued -= chunk.Bytes.size();
      lock.unlock();
      Changed.notify_all();
      const bool delivered = sendAll(To, chunk.Bytes);
      lock.lock();
      if (!delivered) {
        Broken = true;
        ::shutdown(From, SHUT_RD);  // the reader stops too
        return;
      }
    }
  }
};

LinkProxy::LinkProxy(std::uint16_t upstreamPort, LinkShape shape) : FUpstreamPort(upstreamPort), FShape(shape) {
  FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(FListener, 16) != 0 || ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (FListener >= 0) ::close(FListener);
    throw std::runtime_error("the link proxy cannot listen on 127.0.0.1");
  }
  FPort = ntohs(address.sin_port);
  FAcceptThread = std::thread([this] { acceptLoop(); });
}

LinkProxy::~LinkProxy() {
  {
    const std::lock_guard lock(FMutex);
    FStopping = true;
    for (int socket : FSockets) ::shutdown(socket, SHUT_RDWR);
  }
  ::shutdown(FListener, SHUT_RDWR);
  FAcceptThread.join();
  for (const auto& pump : FPumps) pump->Break();
  for (std::thread& thread : FThreads) thread.join();
  for (int socket : FSockets) ::close(socket);
  ::close(FListener);
}

void LinkProxy::acceptLoop() {
  for (;;) {
    const int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // the listener was shut down
    }
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(FUpstreamPort);
    if (upstream < 0 || ::connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      if (upstream >= 0) ::close(upstream);
      ::close(client);  // the far end is not there: the connection is refused
      continue;
    }
    noDelay(client);
    noDelay(upstream);
    const std::lock_guard lock(FMutex);
    FSockets.push_back(client);
    FSockets.push_back(upstream);
    if (FStopping) return;
    startPump(client, upstream, FUpstream);
    startPump(upstream, client, FDownstream);
  }
}

void LinkProxy::startPump(int from, int to, Direction& direction) {
  auto pump = std::make_shared<Pump>();
  pump->From = from;
  pump->To = to;
  pump->Link = &direction;
  pump->BytesPerSecond = FShape.MegabitsPerSecond * 1e6 / 8;
  pump->Delay = std::chrono::microseconds(FShape.RoundTripMs * 500);
  FPumps.push_back(pump);
  FThreads.emplace_back([pump] { pump->Read(); });
  FThreads.emplace_back([pump] { pump->Write(); });
}
