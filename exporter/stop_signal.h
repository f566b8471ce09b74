// SIGTERM and SIGINT (a console's Ctrl-C or close on Windows) as an event one thread waits for.
#pragma once

#include <atomic>
#include <string>

namespace pw::exporter {

class StopSignal {
  public:
    // Blocks the signals for every thread started after it, so only Wait() sees them.
    StopSignal();
    ~StopSignal();
    // The signal's name, or "" once Release() was called.
    std::string Wait();
    // Ends a Wait() that no signal ended.
    void Release();
    bool Received() const { return m_received.load(); }

  private:
    std::atomic<bool> m_received{false};
};

} // namespace pw::exporter
