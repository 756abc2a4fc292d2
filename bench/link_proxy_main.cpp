// link_proxy UPSTREAM_PORT MBIT_PER_S ROUND_TRIP_MS
// Forwards 127.0.0.1:<printed port> to 127.0.0.1:UPSTREAM_PORT through an emulated link
// until stopped (see LinkProxy.h); prints its base URL.
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "bench/LinkProxy.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s UPSTREAM_PORT MBIT_PER_S ROUND_TRIP_MS\n", argv[0]);
    return 2;
  }
  try {
    const int port = std::stoi(argv[1]);
    const LinkShape shape{std::stod(argv[2]), std::stoi(argv[3])};
    if (port <= 0 || port > 65535 || shape.MegabitsPerSecond <= 0 || shape.RoundTripMs < 0) {
      std::fprintf(stderr, "link_proxy: the port, the bandwidth or the round trip is out of range\n");
      return 2;
    }
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    LinkProxy proxy(static_cast<std::uint16_t>(port), shape);
    std::printf("%s\n", proxy.BaseUrl().c_str());
    std::fflush(stdout);
    while (!stopRequested) ::pause();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "link_proxy: %s\n", error.what());
    return 1;
  }
  return 0;
}
