#include "settings/switch_model.h"

#include <gtest/gtest.h>

using namespace pw;

namespace {

// Switch 2 with pins 4 to 8 set from a value.
SwitchModel WithCodePageValue(int value) {
    SwitchModel m;
    for (int pin = 4; pin <= 8; ++pin) m.m_sw2[pin - 1] = (value >> (pin - 4)) & 1;
    return m;
}

TEST(CodePageTable, EveryIndexMapsToItsValueAndBack) {
    const int values[19] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 17, 18, 20, 22, 25, 26};
    for (int i = 0; i < 19; ++i) {
        EXPECT_EQ(CodePageValueFromIndex(i), values[i]) << i;
        EXPECT_EQ(CodePageIndexFromValue(values[i]), i) << i;
        EXPECT_EQ(CodePageValueFromPins(WithCodePageValue(values[i]).m_sw2), values[i]);
    }
}

TEST(CodePageTable, ValuesWithoutEntryGiveIndexZeroAndBadIndexesValueZero) {
    for (int v : {10, 14, 15, 16, 19, 21, 23, 24, 27, 28, 29, 30, 31})
        EXPECT_EQ(CodePageIndexFromValue(v), 0) << v;
    for (int i : {-1, 19, 100}) EXPECT_EQ(CodePageValueFromIndex(i), 0) << i;
}

TEST(BaudTable, PinsToIndexAndBack) {
    for (int i = 0; i < 8; ++i) {
        SwitchModel m;
        m.m_sw9[5] = i & 1, m.m_sw9[6] = (i >> 1) & 1, m.m_sw9[7] = (i >> 2) & 1;
        EXPECT_EQ(BaudIndexFromPins(m.m_sw9), i);
    }
    EXPECT_EQ(BaudPinsFromIndex(1), (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(BaudPinsFromIndex(3), (std::array<int, 3>{1, 1, 0}));
    EXPECT_EQ(BaudPinsFromIndex(4), (std::array<int, 3>{0, 0, 1}));
    for (int i : {-1, 5, 6, 7}) EXPECT_EQ(BaudPinsFromIndex(i), (std::array<int, 3>{0, 0, 0})) << i;
}

TEST(Derivation, FromPinsToSelections) {
    SwitchModel m = WithCodePageValue(5);
    m.m_sw2[2] = 1;
    m.m_sw9[1] = 1; // 7 bits
    m.m_sw9[2] = 1; // pin 3 without pin 4: no parity
    m.m_sw9[5] = 1, m.m_sw9[7] = 1;
    DeriveSelections(m, 1);
    EXPECT_EQ(m.m_nCodePageSel, 5) << "PC865 (Nordic)";
    EXPECT_EQ(m.m_nCutterSel, 1);
    EXPECT_EQ(m.m_nDataBitsSel, 0);
    EXPECT_EQ(m.m_nParitySel, 0);
    EXPECT_EQ(m.m_nBaudSel, 5);
    EXPECT_EQ(m.m_nAutoFeedSel, 1);
}

// The selector rules, in both views.
TEST(Selectors, CodePageClearsOldPinsAndFollowsTheView) {
    SwitchModel m;
    m.m_nCodePageSel = 7; // PC866: pins 4, 5, 6
    ApplyCodePage(m);
    m.m_nCodePageSel = 11; // Thai 42: pins 6, 7
    ApplyCodePage(m);
    EXPECT_EQ(CodePageValueFromPins(m.m_sw2), 12);
    EXPECT_EQ((std::array<int, 5>{m.m_nPin[3], m.m_nPin[4], m.m_nPin[5], m.m_nPin[6], m.m_nPin[7]}),
              (std::array<int, 5>{0, 0, 1, 1, 0}));
    SwitchModel v9;
    v9.m_bSwitch2View = 0;
    v9.m_nCodePageSel = 3;
    ApplyCodePage(v9);
    EXPECT_EQ(CodePageValueFromPins(v9.m_sw2), 3);
    for (int row : v9.m_nPin) EXPECT_EQ(row, -1) << "no row changes in the switch 9 view";
}

TEST(Selectors, BaudParityDataBitsFlowAndCutter) {
    SwitchModel m;
    m.m_bSwitch2View = 0;
    m.m_sw9[7] = 1;
    m.m_nBaudSel = 3;
    ApplyBaudRate(m);
    EXPECT_EQ(BaudIndexFromPins(m.m_sw9), 3) << "57600 sets 6 and 7, clears 8";
    EXPECT_EQ(m.m_nPin[7], 0);
    m.m_nParitySel = 2;
    ApplyParity(m);
    m.m_nParitySel = 0;
    ApplyParity(m);
    EXPECT_EQ(m.m_sw9[3], 0) << "None after Even: pin 4 off";
    EXPECT_EQ(m.m_sw9[2], 1) << "and pin 3 left on";
    m.m_nParitySel = 2;
    ApplyParity(m);
    m.m_nParitySel = 1;
    ApplyParity(m);
    EXPECT_EQ(m.m_sw9[2], 0) << "Odd after Even: pin 3 off";
    EXPECT_EQ(m.m_sw9[3], 1);
    m.m_nDataBitsSel = 0;
    ApplyDataBits(m);
    EXPECT_EQ(m.m_sw9[1], 1);
    m.m_nDataBitsSel = 1;
    ApplyDataBits(m);
    EXPECT_EQ(m.m_sw9[1], 0);
    m.m_nFlowSel = 1;
    ApplyFlowControl(m);
    EXPECT_EQ(m.m_sw9[4], 1);
    EXPECT_EQ(m.m_nPin[4], 1);
    m.m_nCutterSel = 1;
    ApplyAutoCutter(m);
    EXPECT_EQ(m.m_sw2[2], 1);
    EXPECT_EQ(m.m_nPin[2], 0) << "Full Cut in the switch 9 view leaves row 3 (parity) alone";
}

TEST(Defaults, InitializeKeepsPinOneOfBothSwitches) {
    SwitchModel m;
    for (int& p : m.m_sw2) p = 1;
    for (int& p : m.m_sw9) p = 1;
    InitializeDefaults(m);
    EXPECT_EQ(m.m_sw2[0], 1);
    EXPECT_EQ(m.m_sw9[0], 1);
    for (int pin = 2; pin <= 8; ++pin) EXPECT_EQ(m.m_sw2[pin - 1], 0);
    for (int pin = 2; pin <= 7; ++pin) EXPECT_EQ(m.m_sw9[pin - 1], 0);
    EXPECT_EQ(m.m_sw9[7], 1);
    EXPECT_EQ(m.m_nBaudSel, 4);
    EXPECT_EQ(m.m_nDataBitsSel, 1);
}

} // namespace
