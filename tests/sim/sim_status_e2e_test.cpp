// pinwright-sim's real-time status (DLE EOT 1 to 4) over a real pseudo-terminal: the bits of every status
// fault, silent and wrong status replies, and faults changed while the printer runs. Bytes are written out
// from ESC/POS here.
#include "tests/support/sim_process.h"
#include "tests/support/sim_wire.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using pw::test::SimProcess;
using pw::test::SimWire;

namespace {

using Bytes = std::vector<std::uint8_t>;

// DLE EOT 1, 2, 3 and 4 in one go; a printer answers each with one byte.
const Bytes kAllStatus = {0x10, 0x04, 0x01, 0x10, 0x04, 0x02, 0x10, 0x04, 0x03, 0x10, 0x04, 0x04};
const Bytes kModelId = {0x1D, 0x49, 0x01};

std::string Hex(const Bytes& b) {
    std::string s;
    char x[4];
    for (auto c : b) {
        std::snprintf(x, sizeof x, "%02X ", c);
        s += x;
    }
    return s;
}

// Each fault with what DLE EOT 1 to 4 bring: the fixed bits 1 and 4 (0x12) and the fault's own. n=1: bit 2
// drawer pin high, bit 3 offline; n=2: bit 2 cover open, bit 3 feed button, bit 5 paper-end stop, bit 6
// error; n=3: bit 3 cutter, bit 5 unrecoverable, bit 6 auto-recoverable; n=4: bits 2+3 near end, 5+6 end.
struct StatusCase {
    const char* fault;
    Bytes expected;
};
const StatusCase kStatusCases[] = {
    {"drawer-open", {0x16, 0x12, 0x12, 0x12}},
    {"offline", {0x1A, 0x12, 0x12, 0x12}},
    {"cover-open", {0x1A, 0x16, 0x12, 0x12}},
    {"feed-button", {0x1A, 0x1A, 0x12, 0x12}},
    {"paper-near-end", {0x12, 0x12, 0x12, 0x1E}},
    {"paper-out", {0x1A, 0x32, 0x12, 0x7E}},
    {"cutter-error", {0x1A, 0x52, 0x1A, 0x12}},
    {"unrecoverable-error", {0x1A, 0x52, 0x32, 0x12}},
    {"auto-recoverable-error", {0x1A, 0x52, 0x52, 0x12}},
};

struct ControlDir {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("pw-sim-control-" + std::to_string(::getpid()));
    ControlDir() { std::filesystem::create_directories(dir); }
    ~ControlDir() { std::filesystem::remove_all(dir); }
    std::string File() const { return (dir / "control").string(); }
};

TEST(SimStatus, AHealthyPrinterSendsTheFixedBitsAlone) {
    SimProcess sim;
    SimWire wire(sim.PtyPath());
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x12, 0x12, 0x12, 0x12}));
}

TEST(SimStatus, EveryStatusFaultSetsItsBitsInEveryStatus) {
    for (const StatusCase& c : kStatusCases) {
        SimProcess sim({"--fault", c.fault});
        SimWire wire(sim.PtyPath());
        EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex(c.expected)) << c.fault;
        // Offline (DLE EOT 1 bit 3), it answers real-time commands only: GS I waits.
        const bool offline = (c.expected[0] & 0x08) != 0;
        wire.Send(kModelId);
        EXPECT_EQ(wire.Receive(1, offline ? 150 : 2000), offline ? Bytes{} : Bytes{'.'}) << c.fault;
    }
}

TEST(SimStatus, StatusFaultsCombineWithEachOtherAndWithFrom) {
    SimProcess sim({"--fault", "paper-out", "--fault", "cover-open", "--fault", "drawer-open", "--fault",
                    "unrecoverable-error", "--fault", "from=1"});
    SimWire wire(sim.PtyPath());
    EXPECT_EQ(Hex(wire.Ask({0x10, 0x04, 0x01}, 1)), Hex({0x12}))
        << "the first command comes before the faults";
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x1E, 0x76, 0x32, 0x7E}));
}

TEST(SimStatus, SilentAndWrongStatusReplies) {
    SimProcess sim({"--fault", "status-silent=2,3", "--fault", "status-byte=1:80", "--fault",
                    "status-byte=4:00FF", "--fault", "paper-out"});
    SimWire wire(sim.PtyPath());
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 3)), Hex({0x80, 0x00, 0xFF}));
    EXPECT_EQ(Hex(wire.Ask({0x10, 0x04, 0x01}, 1)), Hex({0x80})) << "nothing else came for DLE EOT 2 and 3";
}

TEST(SimStatus, StatusAnswersInUserSettingMode) {
    ControlDir dir;
    SimProcess sim({"--control", dir.File()});
    SimWire wire(sim.PtyPath());
    EXPECT_EQ(Hex(wire.Ask({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'}, 3)), Hex({0x37, 0x20, 0x00}));
    ASSERT_EQ(sim.Control("cover-open"), "");
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x1A, 0x16, 0x12, 0x12}));
}

TEST(SimStatus, PaperTakenOutOfARunningPrinterAndPutBack) {
    ControlDir control;
    SimProcess sim({"--control", control.File(), "--fault", "stray=AA"});
    SimWire wire(sim.PtyPath());
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x12, 0x12, 0x12, 0x12}));

    ASSERT_EQ(sim.Control("paper-out"), "");
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x1A, 0x32, 0x12, 0x7E}));
    ASSERT_EQ(sim.Control("# paper again, the cover open\npaper-near-end cover-open\n"), "");
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x1A, 0x16, 0x12, 0x1E}));
    ASSERT_EQ(sim.Control(""), "");
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x12, 0x12, 0x12, 0x12}));
    EXPECT_EQ(wire.Ask({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x02}, 12).front(), 0xAA)
        << "the faults the control file does not hold stay";
}

TEST(SimStatus, ControlSilencesOnePrinterOfSeveral) {
    ControlDir control;
    SimProcess sim({"--count", "3", "--control", control.File()});
    ASSERT_EQ(sim.Names().size(), 3u);
    ASSERT_EQ(sim.Control("2: silent\n3: status-byte=1:FF offline"), "");
    SimWire first(sim.Names()[0]), second(sim.Names()[1]), third(sim.Names()[2]);
    EXPECT_EQ(Hex(first.Ask(kAllStatus, 4)), Hex({0x12, 0x12, 0x12, 0x12}));
    EXPECT_EQ(Hex(third.Ask(kAllStatus, 4)), Hex({0xFF, 0x12, 0x12, 0x12}));
    second.Send(kModelId);
    EXPECT_EQ(Hex(second.Receive(1, 300)), "") << "a silent printer";
    ASSERT_EQ(sim.Control("3: offline"), "");
    EXPECT_EQ(Hex(second.Ask(kModelId, 1)), Hex({'.'})) << "answers again";
    EXPECT_EQ(Hex(third.Ask(kAllStatus, 4)), Hex({0x1A, 0x12, 0x12, 0x12}));
}

TEST(SimStatus, AControlFileItCannotReadChangesNothing) {
    ControlDir control;
    SimProcess sim({"--count", "2", "--control", control.File()});
    ASSERT_EQ(sim.Control("cover-open"), "");
    EXPECT_NE(sim.Control("paper-out\nfrayed-ribbon"), "") << "no such fault";
    EXPECT_NE(sim.Control("3: paper-out"), "") << "no third printer";
    EXPECT_NE(sim.Control("status-byte=5:12"), "") << "DLE EOT 5 is no status request";
    EXPECT_NE(sim.Control("paper-out=1"), "");
    SimWire wire(sim.Names()[1]);
    EXPECT_EQ(Hex(wire.Ask(kAllStatus, 4)), Hex({0x1A, 0x16, 0x12, 0x12})) << "still the cover open alone";
}

} // namespace
