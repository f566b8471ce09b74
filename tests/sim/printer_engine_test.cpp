// The virtual printer fed byte streams. Commands are written out byte by byte from ESC/POS here.
#include "sim/printer_engine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using sim::Bytes;
using sim::PrinterEngine;

namespace {

Bytes B(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
    return b;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const Bytes kInit = B({0x1B, 0x40});
const Bytes kSelect = B({0x1B, 0x3D, 0x01});
const Bytes kAsbOff = B({0x1D, 0x61, 0x00});
const Bytes kModelId = B({0x1D, 0x49, 0x01});
const Bytes kSetupIn = B({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'});
const Bytes kSetupOut = B({0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 'O', 'U', 'T'});
Bytes Query(int sw) {
    return B({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, sw});
}
Bytes Change(int sw, const std::string& pins) {
    return Cat(B({0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, sw}), Text(pins));
}
Bytes SwitchReply(const std::string& pins) {
    return Cat(Cat(B({0x37, 0x21}), Text(pins)), B({0}));
}

TEST(PrinterEngine, AnswersEveryCommandOfTheToolsSet) {
    PrinterEngine p;
    EXPECT_EQ(p.Feed(Cat(Cat(kInit, kSelect), kAsbOff)), Bytes{});
    EXPECT_EQ(p.Feed(kModelId), Text("."));
    EXPECT_EQ(p.Feed(B({0x1D, 0x49, 0x41})), Cat(Cat(B({0x5F}), Text("2.10 SIM")), B({0})));
    EXPECT_EQ(p.Feed(B({0x1D, 0x49, 0x42})), Cat(Cat(B({0x5F}), Text("MERIDOX")), B({0})));
    EXPECT_EQ(p.Feed(B({0x1D, 0x49, 0x43})), Cat(Cat(B({0x5F}), Text("LTX-580")), B({0})));
    EXPECT_EQ(p.Feed(Query(1)), SwitchReply("00000000"));
    EXPECT_EQ(p.Feed(Query(2)), SwitchReply("00010100"));
    EXPECT_EQ(p.Feed(Query(9)), SwitchReply("10000000"));
    EXPECT_EQ(p.Feed(B({0x10, 0x04, 0x01})), B({0x12})) << "online, drawer pin low";
    EXPECT_EQ(p.Feed(B({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02})), Bytes{});
    EXPECT_EQ(p.Feed(kSetupIn), B({0x37, 0x20, 0x00}));
    EXPECT_TRUE(p.InSettingMode());
    EXPECT_EQ(p.Feed(kSetupOut), Bytes{});
    EXPECT_FALSE(p.InSettingMode());
}

TEST(PrinterEngine, EmptyIdentityTextIsHeaderAndNul) {
    PrinterEngine p;
    p.firmware = "";
    EXPECT_EQ(p.Feed(B({0x1D, 0x49, 0x41})), B({0x5F, 0x00}));
}

TEST(PrinterEngine, CommandsSplitAtEveryByteBoundaryGiveTheSameReplies) {
    const Bytes stream = Cat(Cat(Cat(kInit, kModelId), Query(2)), Cat(kSetupIn, B({0x10, 0x04, 0x01})));
    PrinterEngine whole;
    const Bytes expected = whole.Feed(stream);
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        PrinterEngine p;
        Bytes got = p.Feed(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
        got = Cat(got, p.Feed(Bytes(stream.begin() + static_cast<long>(cut), stream.end())));
        EXPECT_EQ(got, expected) << "cut at " << cut;
    }
    PrinterEngine bytewise;
    Bytes got;
    for (auto b : stream) got = Cat(got, bytewise.Feed({b}));
    EXPECT_EQ(got, expected);
}

TEST(PrinterEngine, StagedChangesApplyOnlyWhenTheModeEnds) {
    PrinterEngine p;
    int applied = 0;
    p.onSettingsApplied = [&] { ++applied; };
    p.Feed(kSetupIn);
    p.Feed(Change(9, "01100002"));
    EXPECT_EQ(p.Feed(Query(9)), SwitchReply("10000000")) << "not visible before fn 2";
    EXPECT_EQ(applied, 0);
    p.Feed(kSetupOut);
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(p.Feed(Query(9)), SwitchReply("01100000"));
}

TEST(PrinterEngine, IgnoreWritesAnswersAsUsualButKeepsTheOldSwitches) {
    PrinterEngine p;
    p.faults.ignoreWrites = true;
    int applied = 0;
    p.onSettingsApplied = [&] { ++applied; };
    EXPECT_EQ(p.Feed(kSetupIn), B({0x37, 0x20, 0x00}));
    p.Feed(Change(9, "01100002"));
    p.Feed(Change(2, "11010122"));
    p.Feed(kSetupOut);
    EXPECT_EQ(applied, 1) << "the mode ends and the printer resets as usual";
    EXPECT_FALSE(p.InSettingMode());
    EXPECT_EQ(p.Feed(Query(9)), SwitchReply("10000000"));
    EXPECT_EQ(p.SwitchText(2), "00010100");
}

TEST(PrinterEngine, TwoLeavesPinsAsTheyWere) {
    PrinterEngine p;
    p.SetSwitchText(1, "10111011");
    p.Feed(kSetupIn);
    p.Feed(Change(1, "22202222"));
    p.Feed(Change(2, "11010122"));
    p.Feed(kSetupOut);
    EXPECT_EQ(p.SwitchText(1), "10101011");
    EXPECT_EQ(p.SwitchText(2), "11010100");
}

TEST(PrinterEngine, ChangesOutsideSettingModeAndPrintDataInsideItAreIgnored) {
    PrinterEngine p;
    p.Feed(Change(2, "11111111"));
    p.Feed(kSetupOut);
    EXPECT_EQ(p.SwitchText(2), "00010100");
    p.Feed(kSetupIn);
    EXPECT_EQ(p.Feed(Cat(Text("hello\n"), kModelId)), Bytes{}) << "no model ID in setting mode";
    EXPECT_EQ(p.Feed(B({0x10, 0x04, 0x01})), B({0x12})) << "real-time status still answers";
}

TEST(PrinterEngine, UnknownBytesAndPrintDataGetNoReply) {
    PrinterEngine p;
    EXPECT_EQ(p.Feed(Text("Receipt line\r\n")), Bytes{});
    EXPECT_EQ(p.Feed(B({0x1B, 0x21, 0x08, 0xFF, 0x00, 0x1D, 0x56, 0x00})), Bytes{});
    EXPECT_EQ(p.Feed(kModelId), Text("."));
}

TEST(PrinterEngine, Faults) {
    {
        PrinterEngine p;
        p.faults.silent = true;
        EXPECT_EQ(p.Feed(Cat(kModelId, Query(2))), Bytes{});
    }
    {
        PrinterEngine p;
        p.faults.stray = B({0xAA, 0x37});
        EXPECT_EQ(p.Feed(Query(2)), Cat(B({0xAA, 0x37}), SwitchReply("00010100")));
        EXPECT_EQ(p.Feed(kModelId), Text(".")) << "only switch replies get stray bytes";
    }
    {
        PrinterEngine p;
        p.faults.garbage = true;
        Bytes r = p.Feed(Query(2));
        ASSERT_EQ(r.size(), 11u);
        bool foreign = false;
        for (int i = 2; i < 10; ++i) foreign |= r[i] != '0' && r[i] != '1';
        EXPECT_TRUE(foreign);
    }
    {
        PrinterEngine p;
        p.faults.shortReplies = true;
        EXPECT_EQ(p.Feed(Query(2)), B({0x37, 0x21, '0', '0', '0'}));
    }
    {
        PrinterEngine p;
        p.faults.noDot = 2;
        EXPECT_EQ(p.Feed(kModelId), Bytes{});
        EXPECT_EQ(p.Feed(kModelId), Bytes{});
        EXPECT_EQ(p.Feed(kModelId), Text("."));
    }
    {
        PrinterEngine p;
        p.faults.hangupAfter = 2;
        EXPECT_EQ(p.Feed(kInit), Bytes{});
        EXPECT_FALSE(p.HungUp());
        EXPECT_EQ(p.Feed(Cat(kModelId, kModelId)), Text("."));
        EXPECT_TRUE(p.HungUp());
        EXPECT_EQ(p.Feed(kModelId), Bytes{});
    }
}

TEST(PrinterEngine, FaultsCanStartAfterSomeCommands) {
    PrinterEngine p;
    p.faults.silent = true;
    p.faults.from = 2;
    EXPECT_EQ(p.Feed(kModelId), Text("."));
    EXPECT_EQ(p.Feed(kModelId), Text("."));
    EXPECT_EQ(p.Feed(kModelId), Bytes{});
}

Bytes Status(int n) {
    return B({0x10, 0x04, n});
}

// DLE EOT 1 to 4 for one printer, as four bytes.
Bytes AllStatus(PrinterEngine& p) {
    return p.Feed(Cat(Cat(Status(1), Status(2)), Cat(Status(3), Status(4))));
}

// Each fault with the bytes of DLE EOT 1, 2, 3 and 4 a real printer sends with it: 0x12 is the fixed bits
// alone (1 and 4); bit 2 is 0x04, bit 3 0x08, bit 5 0x20, bit 6 0x40.
TEST(PrinterEngineStatus, EveryFaultSetsItsBitsInEveryStatus) {
    using sim::StatusFaults;
    struct Case {
        const char* name;
        bool StatusFaults::*fault;
        Bytes expected;
    };
    const Case cases[] = {
        {"drawer open", &StatusFaults::drawerOpen, B({0x16, 0x12, 0x12, 0x12})},
        {"offline", &StatusFaults::offline, B({0x1A, 0x12, 0x12, 0x12})},
        {"cover open", &StatusFaults::coverOpen, B({0x1A, 0x16, 0x12, 0x12})},
        {"feed button", &StatusFaults::feedButton, B({0x1A, 0x1A, 0x12, 0x12})},
        {"paper near end", &StatusFaults::paperNearEnd, B({0x12, 0x12, 0x12, 0x1E})},
        {"paper out", &StatusFaults::paperOut, B({0x1A, 0x32, 0x12, 0x7E})},
        {"cutter error", &StatusFaults::cutterError, B({0x1A, 0x52, 0x1A, 0x12})},
        {"unrecoverable error", &StatusFaults::unrecoverableError, B({0x1A, 0x52, 0x32, 0x12})},
        {"auto-recoverable error", &StatusFaults::autoRecoverableError, B({0x1A, 0x52, 0x52, 0x12})},
    };
    for (const Case& c : cases) {
        PrinterEngine p;
        p.faults.status.*c.fault = true;
        const Bytes got = AllStatus(p);
        EXPECT_EQ(got, c.expected) << c.name;
        for (auto b : got) EXPECT_EQ(b & 0x93, 0x12) << c.name << ": every status byte keeps its fixed bits";
    }
    PrinterEngine healthy;
    EXPECT_EQ(AllStatus(healthy), B({0x12, 0x12, 0x12, 0x12}));
}

TEST(PrinterEngineStatus, FaultsTogetherSetTheBitsOfEach) {
    PrinterEngine p;
    p.faults.status.paperOut = true;
    p.faults.status.coverOpen = true;
    p.faults.status.drawerOpen = true;
    p.faults.status.cutterError = true;
    EXPECT_EQ(AllStatus(p), B({0x1E, 0x76, 0x1A, 0x7E}));
}

TEST(PrinterEngineStatus, StatusAnswersInUserSettingModeWithTheFaults) {
    PrinterEngine p;
    p.Feed(kSetupIn);
    p.faults.status.coverOpen = true;
    ASSERT_TRUE(p.InSettingMode());
    EXPECT_EQ(AllStatus(p), B({0x1A, 0x16, 0x12, 0x12}));
}

TEST(PrinterEngineStatus, SilentStatusGetsNoReplyAndTheOthersStillAnswer) {
    PrinterEngine p;
    p.faults.status.paperOut = true;
    p.faults.status.silent = {2, 4};
    EXPECT_EQ(AllStatus(p), B({0x1A, 0x12}));
    EXPECT_EQ(p.Commands(), 4) << "an unanswered status request is still a command";
    EXPECT_EQ(p.Feed(kModelId), Bytes{}) << "held while the paper is out";
    p.faults.status.paperOut = false;
    EXPECT_EQ(p.Feed({}), Text("."));
}

TEST(PrinterEngineStatus, StatusRepliesReplaceTheByteWhateverItIs) {
    PrinterEngine p;
    p.faults.status.replies[1] = B({0x80});
    p.faults.status.replies[3] = B({0x00, 0xFF});
    p.faults.status.offline = true;
    EXPECT_EQ(AllStatus(p), B({0x80, 0x12, 0x00, 0xFF, 0x12}));
}

TEST(PrinterEngineStatus, StatusFaultsStartAfterSomeCommands) {
    PrinterEngine p;
    p.faults.from = 2;
    p.faults.status.paperOut = true;
    p.faults.status.replies[2] = B({0xEE});
    EXPECT_EQ(p.Feed(Status(4)), B({0x12}));
    EXPECT_EQ(p.Feed(Status(2)), B({0x12}));
    EXPECT_EQ(p.Feed(Status(4)), B({0x7E}));
    EXPECT_EQ(p.Feed(Status(2)), B({0xEE}));
}

TEST(PrinterEngineStatus, OtherRequestsAndSplitBytesAreHandled) {
    PrinterEngine p;
    p.faults.status.offline = true;
    EXPECT_EQ(p.Feed(B({0x10, 0x04, 0x05})), Bytes{}) << "n = 5 is no status request";
    EXPECT_EQ(p.Feed(B({0x10, 0x04, 0x00})), Bytes{});
    EXPECT_EQ(p.Feed(B({0x10})), Bytes{});
    EXPECT_EQ(p.Feed(B({0x04})), Bytes{});
    EXPECT_EQ(p.Feed(B({0x01})), B({0x1A}));
}

TEST(PrinterEngine, StateFileRoundTripsAndRejectsNonsense) {
    auto path = std::filesystem::temp_directory_path() / ("pw-sim-state-" + std::to_string(::getpid()));
    PrinterEngine a;
    a.SetSwitchText(2, "11010100");
    ASSERT_TRUE(sim::SaveState(path.string(), a));
    PrinterEngine b;
    std::string error;
    ASSERT_TRUE(sim::LoadState(path.string(), b, error)) << error;
    EXPECT_EQ(b.SwitchText(2), "11010100");
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        std::fputs("switch 2 = 1101\n", f);
        std::fclose(f);
    }
    EXPECT_FALSE(sim::LoadState(path.string(), b, error));
    EXPECT_NE(error.find(":1:"), std::string::npos);
    std::filesystem::remove(path);
}

} // namespace

namespace {

// What the mechanism did, and each effect as it came.
struct Mechanism {
    PrinterEngine printer;
    std::vector<std::string> effects;
    Mechanism() {
        printer.print.onEvent = [this](const std::string& e) { effects.push_back(e); };
    }
};

TEST(PrintModel, TextWaitsForALineFeedAFullLineOrESCAtAndCommandsPrintFeedCutAndKick) {
    Mechanism m;
    m.printer.Feed(Text("AB"));
    EXPECT_EQ(m.printer.print.Buffer(), "AB");
    EXPECT_EQ(m.printer.print.LinesPrinted(), 0);
    m.printer.Feed(B({0x0A, 0x0A}));
    m.printer.Feed(Cat(Text("x\ty"), kInit)); // ESC @ throws the line away
    m.printer.Feed(B({0x0D}));                // CR without automatic line feed: nothing
    m.printer.Feed(Text(std::string(33, 'Z')));
    EXPECT_EQ(m.printer.print.Buffer(), "Z") << "32 columns printed by themselves";
    m.printer.Feed(B({0x1B, 'd', 3, 0x1B, 'J', 40}));
    m.printer.Feed(B({0x1D, 'V', 0x01, 0x1D, 'V', 66, 10, 0x1B, 'i', 0x1B, 'm'}));
    m.printer.Feed(B({0x1B, 'p', 0, 25, 250, 0x10, 0x14, 1, 0, 1}));
    EXPECT_EQ(m.effects,
              (std::vector<std::string>{"printed: 41 42", "fed 1 line", "print buffer cleared: 78 09 79",
                                        "printed: " +
                                            [] {
                                                std::string s;
                                                for (int i = 0; i < 32; ++i) s += i ? " 5A" : "5A";
                                                return s;
                                            }(),
                                        "printed: 5A", "fed 3 lines", "fed 40 dots", "cut (GS V)",
                                        "fed 10 dots", "cut (GS V)", "cut (ESC i)", "cut (ESC m)",
                                        "drawer kicked (ESC p)", "drawer kicked (DLE DC4 1)"}));
    EXPECT_EQ(m.printer.print.Summary(), "printed 3 lines, fed 6, cut 4, kicked 2 drawers, buffer empty");

    // 48 columns; CR prints with automatic line feed (switch 1 pin 5); other control codes are ignored.
    Mechanism wide;
    wide.printer.print = sim::PrintModel(48);
    wide.printer.print.onEvent = [&](const std::string& e) { wide.effects.push_back(e); };
    wide.printer.SetSwitch(1, 0x10);
    wide.printer.Feed(Cat(Text(std::string(40, 'a')), B({0x00, 0x01, 0x07, 0x18, 0x1F, 0x0D})));
    EXPECT_EQ(wide.printer.print.LinesPrinted(), 1);
    EXPECT_TRUE(wide.printer.print.Buffer().empty());
    // In user setting mode print data is ignored.
    wide.printer.Feed(Cat(kSetupIn, B({'Q', 0x0A})));
    EXPECT_EQ(wide.printer.print.LinesPrinted(), 1);
    EXPECT_EQ(wide.printer.print.Feeds(), 0);
}

TEST(PrintModel, AnOfflinePrinterAnswersOnlyRealTimeCommandsAndCarriesOutTheRestWhenBackOnline) {
    Mechanism m;
    m.printer.faults.status.paperOut = true;
    const Bytes held = m.printer.Feed(Cat(Cat(kModelId, B({0x10, 0x04, 0x01, 'H', 0x0A})), Query(9)));
    EXPECT_EQ(held, B({0x1A})) << "DLE EOT 1 answered at once (offline), GS I and GS ( E held";
    EXPECT_GT(m.printer.Waiting(), 0u);
    EXPECT_TRUE(m.effects.empty()) << "nothing printed while offline";
    // A real-time command split across two reads is still found among the held bytes.
    EXPECT_EQ(m.printer.Feed(B({0x10, 0x04})), Bytes{});
    EXPECT_EQ(m.printer.Feed(B({0x04})), B({0x7E}));
    m.printer.faults.status.paperOut = false;
    EXPECT_EQ(m.printer.Feed({}), Cat(B({'.'}), SwitchReply("10000000"))) << "back online, in order";
    EXPECT_EQ(m.effects, std::vector<std::string>{"printed: 48"});
    EXPECT_EQ(m.printer.Waiting(), 0u);
}

} // namespace
