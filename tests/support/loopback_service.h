// Services on loopback addresses of a test's choosing, for pinwright-cli discover: something that takes
// every connection and is no printer, either a web server (whatever comes is answered with an HTTP error)
// or a listener that never says a word. Each serves on a thread of its own until it is destroyed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace pw::test {

class LoopbackService {
  public:
    enum Kind { Http, Silent };
    // Listens on HOST:PORT ("127.0.0.35", 40123); throws when it cannot.
    LoopbackService(const std::string& host, int port, Kind kind);
    ~LoopbackService();
    LoopbackService(const LoopbackService&) = delete;
    LoopbackService& operator=(const LoopbackService&) = delete;

    int Connections() const { return m_connections.load(); }
    // Every byte it was sent, on all its connections.
    std::string Received() const;

  private:
    void Serve();
    int m_listener = -1;
    Kind m_kind;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

// A TCP port that nothing listens on, on any address, just now: high, from the system's own choice.
int FreeTcpPort();

} // namespace pw::test
