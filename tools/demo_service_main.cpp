// quarnell-demo-service FOLDER PACKAGE [none|salva|installa] [PORT]
// Serves PACKAGE from FOLDER on 127.0.0.1 until stopped; prints its base URL.
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/DemoDownloadService.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER PACKAGE [none|salva|installa] [PORT]\n", argv[0]);
    return 2;
  }
  std::string operation = argc > 3 ? argv[3] : "none";
  if (operation == "none") operation.clear();
  if (!operation.empty() && operation != "salva" && operation != "installa") {
    std::fprintf(stderr, "unknown operation '%s': use none, salva or installa\n", argv[3]);
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(argc > 4 ? std::stoi(argv[4]) : 0);
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  try {
    DemoDownloadService service(argv[1], argv[2], operation, port);
    std::printf("%s\n", service.BaseUrl().c_str());
    std::fflush(stdout);
    while (!stopRequested) ::pause();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarnell-demo-service: %s\n", error.what());
    return 1;
  }
  return 0;
}
