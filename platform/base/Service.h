// The one way a replaceable platform service comes in. An interface derives from
// Service<Interface> and defines `static Interface& Default()` (the real machine, or a
// service that does nothing where the real one lives in a layer above). Code asks
// Interface::Current(); tests, and the user interface at start-up, install another for the
// lifetime of a ScopedService, which puts the previous one back when it goes.
//
// Threads: Current() may be called from any thread; install and remove on one thread, and
// not while another thread may still use the service being removed.
#pragma once

#include <atomic>

template <class Interface>
class Service {
 public:
  // The installed service, else the interface's default.
  static Interface& Current() {
    Interface* installed = slot().load(std::memory_order_acquire);
    return installed ? *installed : Interface::Default();
  }

  // Installs `service` (not owned; nullptr restores the default) and returns the one it replaces.
  static Interface* Install(Interface* service) { return slot().exchange(service, std::memory_order_acq_rel); }

 private:
  static std::atomic<Interface*>& slot() {
    static std::atomic<Interface*> installed{nullptr};
    return installed;
  }
};

// Installs a service for the lifetime of this object.
template <class Interface>
class ScopedService {
 public:
  explicit ScopedService(Interface& service) : FPrevious(Service<Interface>::Install(&service)) {}
  ~ScopedService() { Service<Interface>::Install(FPrevious); }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;

 private:
  Interface* FPrevious;  // what was in force before, put back on destruction
};
