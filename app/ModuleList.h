// The program's modules, started in a fixed order and shut down in the reverse order.
// A module joins by adding its pair of steps in `main`; nothing starts from a static
// initialiser.
#pragma once

#include <functional>
#include <vector>

class ModuleList {
 public:
  ModuleList() = default;
  ModuleList(const ModuleList&) = delete;
  ModuleList& operator=(const ModuleList&) = delete;
  // Shuts down whatever was started, also when start-up or the run ended by an error.
  ~ModuleList() { ShutDown(); }

  // Runs `startUp` now and remembers `shutDown` for the reverse walk.
  void Start(const std::function<void()>& startUp, std::function<void()> shutDown) {
    startUp();
    FShutDowns.push_back(std::move(shutDown));
  }

  void ShutDown() {
    while (!FShutDowns.empty()) {
      auto step = std::move(FShutDowns.back());
      FShutDowns.pop_back();
      if (step) step();
    }
  }

 private:
  std::vector<std::function<void()>> FShutDowns;
};
