#include "protocol/commands.h"

#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

using namespace pw;
using pw::test::Bytes;
using pw::test::Hex;

namespace {

template <std::size_t N> std::string H(const Cmd<N>& c) {
    return Hex(Bytes(c.begin(), c.end()));
}

TEST(CommandSet, EveryCommandHasItsExactBytesAndLength) {
    EXPECT_EQ(H(CMD_INIT), "1B 40");
    EXPECT_EQ(H(CMD_SELECT_PRINTER), "1B 3D 01");
    EXPECT_EQ(H(CMD_ASB_OFF), "1D 61 00");
    EXPECT_EQ(H(CMD_QUERY_MODEL_ID), "1D 49 01");
    EXPECT_EQ(H(CMD_QUERY_FIRMWARE), "1D 49 41");
    EXPECT_EQ(H(CMD_QUERY_MAKER), "1D 49 42");
    EXPECT_EQ(H(CMD_QUERY_MODEL_NAME), "1D 49 43");
    EXPECT_EQ(H(CMD_SELF_TEST_1), "1D 28 41 02 00 01 02");
    EXPECT_EQ(H(CMD_SELF_TEST_2), "1D 28 41 02 00 01 03");
    EXPECT_EQ(H(CMD_SETUP_IN), "1D 28 45 03 00 01 49 4E");
    EXPECT_EQ(H(CMD_SETUP_OUT), "1D 28 45 04 00 02 4F 55 54");
    EXPECT_EQ(H(CMD_QUERY_SW1), "1D 28 45 02 00 04 01");
    EXPECT_EQ(H(CMD_QUERY_SW2), "1D 28 45 02 00 04 02");
    EXPECT_EQ(H(CMD_QUERY_SW9), "1D 28 45 02 00 04 09");
    EXPECT_EQ(H(CMD_SET_SW1), "1D 28 45 0A 00 03 01 32 32 32 30 32 32 32 32");
    EXPECT_EQ(H(CMD_SET_SW2), "1D 28 45 0A 00 03 02 30 30 30 30 30 30 32 32");
    EXPECT_EQ(H(CMD_SET_SW9), "1D 28 45 0A 00 03 09 30 30 30 30 30 30 30 32");
    EXPECT_EQ(H(CMD_REALTIME_STATUS), "10 04 01");
}

TEST(CommandSet, SendWritesTheWholeCommandIncludingZeroBytes) {
    test::FakeDeviceServices os;
    auto& dev = os.AddDevice("COM1");
    CPrinterPort port(os);
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(Send(port, CMD_ASB_OFF), 3u);
    EXPECT_EQ(Hex(dev.received), "1D 61 00");
}

TEST(ChangeCommand, AllPinsOffIsTheTemplate) {
    EXPECT_EQ(FillChangeCommand(CMD_SET_SW2, {}), CMD_SET_SW2);
    EXPECT_EQ(FillChangeCommand(CMD_SET_SW1, {}), CMD_SET_SW1);
}

TEST(ChangeCommand, PinEightIsByteSevenAndPinOneIsByteFourteen) {
    std::array<bool, 8> pin8{};
    pin8[7] = true;
    auto c = FillChangeCommand(CMD_SET_SW9, pin8);
    EXPECT_EQ(c[7], '1');
    EXPECT_EQ(Hex(Bytes(c.begin() + 7, c.end())), "31 30 30 30 30 30 30 32");
    std::array<bool, 8> all;
    all.fill(true);
    auto s1 = FillChangeCommand(CMD_SET_SW1, all);
    EXPECT_EQ(std::string(s1.begin() + 7, s1.end()), "22212222") << "a '2' is never changed";
    auto s2 = FillChangeCommand(CMD_SET_SW2, all);
    EXPECT_EQ(std::string(s2.begin() + 7, s2.end()), "11111122");
}

} // namespace
