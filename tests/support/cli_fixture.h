// Printers for pinwright-cli end-to-end tests: pinwright-sim on a pseudo-terminal or on a loopback TCP
// port, its switches in a state file in the test's own folder, its events on standard error.
#pragma once

#include "tests/support/cli_process.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace pw::test {

enum class Link { Serial, Network };
void PrintTo(Link link, std::ostream* os); // for gtest

class CliFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const;
    // A printer named `name` (its state file is NAME.state) on a pseudo-terminal or a loopback port.
    std::unique_ptr<SimProcess> Sim(const std::string& name, std::vector<std::string> extra = {},
                                    Link link = Link::Serial);
    // The port pinwright-cli is given for it: the pseudo-terminal's path or "tcp://127.0.0.1:PORT".
    static std::string PortOf(const SimProcess& sim);
    // The printer's switches as its state file holds them.
    std::string Switches(const std::string& name) const;
    // The status file of "Initialize Status": 115200 8N1, DTR/DSR, partial cut, PC437, no line feed.
    std::string DefaultsFile();

    std::filesystem::path dir;
};

// User setting mode was entered at least once, and left again each time.
void ExpectSettingModeLeft(const std::string& simLog);
std::size_t Count(const std::string& text, const std::string& what);
double SecondsSince(std::chrono::steady_clock::time_point t);

} // namespace pw::test
