// A pseudo-terminal for tests: the test holds the master side, the code under test opens the slave path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pw::test {

class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return m_slave; }
    int MasterFd() const { return m_master; }
    void Send(const std::vector<std::uint8_t>& bytes);
    // Reads from the master side until `count` bytes came or `timeoutMs` passed.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs = 2000);

  private:
    int m_master = -1;
    std::string m_slave;
};

} // namespace pw::test
