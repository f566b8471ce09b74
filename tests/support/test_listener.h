// A tiny TCP listener on 127.0.0.1 for tests of the network link: it accepts one connection and sends,
// receives or closes on the test's word. Winsock on Windows, BSD sockets elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pw::test {

class TestListener {
  public:
    TestListener();
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

  private:
    std::uintptr_t m_listener;
    std::uintptr_t m_connection;
    int m_port = 0;
};

} // namespace pw::test
