// A tiny TCP listener on 127.0.0.1 for tests of the network link: it accepts one connection and sends,
// receives or closes on the test's word; it can also be a printer that keeps sending, or a host whose
// queue of connections is full, so that a new one is neither taken nor refused. Winsock on Windows, BSD
// sockets elsewhere.
#pragma once

#include "link/printer_port.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace pw::test {

class TestListener {
  public:
    // `backlog`: how many connections the listener queues before it takes them. `receiveBuffer` (bytes,
    // 0 for the system's) bounds what the printer's side holds unread, so that what a port writes beyond
    // it stays queued on the port's side.
    explicit TestListener(int backlog = 4, int receiveBuffer = 0);
    ~TestListener();
    TestListener(const TestListener&) = delete;
    TestListener& operator=(const TestListener&) = delete;

    // "tcp://127.0.0.1:PORT"
    std::string Name() const;
    // Takes the connection that waits, within `timeoutMs`; false when none came.
    bool Accept(int timeoutMs = 5000);
    // Reads from the connection until `count` bytes came or `timeoutMs` passed.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs = 5000);
    void Send(const std::vector<std::uint8_t>& bytes);
    void CloseConnection();
    // Stops listening; a connection attempt after this is refused.
    void CloseListener();

    // Connects to itself, and holds the connections, until its queue is full: a connection attempt after
    // this is neither taken nor refused. False when the queue did not fill.
    bool FillQueue();
    // Sends on the connection without pause, from a thread of its own, until StopSending, the connection
    // fails, or `limitMs` passed. Returns at once.
    void KeepSending(int limitMs = 8000);
    void StopSending();

  private:
    std::uintptr_t m_listener;
    std::uintptr_t m_connection;
    int m_port = 0;
    std::vector<std::uintptr_t> m_queued;
    std::atomic<bool> m_sending{false};
    std::thread m_sender;
};

// A printer port on the network link, connected to a listener that took the connection.
struct ConnectedPort {
    TestListener printer;
    CPrinterPort port;
    explicit ConnectedPort(int receiveBuffer = 0);
    ~ConnectedPort();
};

} // namespace pw::test
