// A network link emulated on 127.0.0.1: a TCP proxy that forwards every connection it
// accepts to an upstream port on 127.0.0.1, delaying each direction by half the round trip
// and sending at most the link's bandwidth. Like a real full-duplex link, each direction has
// one bandwidth shared by all connections: two connections together get no more than one.
//
// The model: bytes read from one side queue for the link in the order they arrive, take
// size / bandwidth to be sent, then arrive at the other side half a round trip later. The
// proxy reads at most 1 MiB ahead of what it has delivered per connection and direction, so
// a fast sender is held back as a router's full buffer would hold it. TCP's own slow start
// is not modelled (loopback TCP underneath opens its window at once).
//
// Threads: the proxy runs its own threads (an acceptor, two per connection and direction);
// construct and destroy on one thread. Raises std::runtime_error when it cannot listen.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LinkShape {
  double MegabitsPerSecond = 100;
  int RoundTripMs = 20;
};

class LinkProxy {
 public:
  LinkProxy(std::uint16_t upstreamPort, LinkShape shape);
  ~LinkProxy();  // closes every connection and joins the threads
  LinkProxy(const LinkProxy&) = delete;
  LinkProxy& operator=(const LinkProxy&) = delete;

  std::uint16_t Port() const { return FPort; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(FPort); }

 private:
  // One direction of the link, shared by every connection.
  struct Direction {
    std::mutex Mutex;
    std::chrono::steady_clock::time_point FreeAt{};  // when everything queued so far is sent
  };
  struct Pump;
  void acceptLoop();
  void startPump(int from, int to, Direction& direction);

  std::uint16_t FUpstreamPort;
  LinkShape FShape;
  int FListener = -1;
  std::uint16_t FPort = 0;
  Direction FDownstream;  // upstream to client
  Direction FUpstream;    // client to upstream
  std::mutex FMutex;      // guards the members below
  bool FStopping = false;
  std::vector<int> FSockets;
  std::vector<std::shared_ptr<Pump>> FPumps;
  std::vector<std::thread> FThreads;
  std::thread FAcceptThread;
};
