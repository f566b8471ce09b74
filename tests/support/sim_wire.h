// The test's own end of one simulated printer's line, without the tool's port code: the pseudo-terminal's
// slave side set raw, or a TCP connection to "tcp://ADDRESS:PORT". Bytes go as given and come as they came.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pw::test {

class SimWire {
  public:
    // `name` as SimProcess::Names() gives it; throws when it cannot be opened.
    explicit SimWire(const std::string& name);
    ~SimWire();
    SimWire(const SimWire&) = delete;
    SimWire& operator=(const SimWire&) = delete;

    void Send(const std::vector<std::uint8_t>& bytes);
    // Reads until `count` bytes came, the other side closed, or `timeoutMs` passed.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs);
    // Sends and waits for `count` bytes, 2 s at most.
    std::vector<std::uint8_t> Ask(const std::vector<std::uint8_t>& bytes, std::size_t count);
    // A pseudo-terminal only: the line rate the test's side sets, as the tool would.
    void SetRate(int baud);

  private:
    int m_fd = -1;
};

} // namespace pw::test
