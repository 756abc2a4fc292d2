// Whether this machine has a network connection beyond loopback, as the WinInet-like
// layer reports it (its connected-state option).
//
// Threads: Connected() may be called from any thread.
#pragma once

#include "platform/base/Service.h"

class NetworkState : public Service<NetworkState> {
 public:
  virtual ~NetworkState() = default;
  // True when an interface other than loopback is up.
  virtual bool Connected() const = 0;

  // The machine's interfaces.
  static NetworkState& Default();
};
