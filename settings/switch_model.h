// The switch settings model: pins of memory switches 2 and 9, the seven selections, the pin panel's rows
// and which switch it shows; with the code page and baud rate tables that tie selections to pins.
#pragma once

#include <array>
#include <cstdint>

namespace pw {

// Members of the main dialog that form the model. Pin p of a switch is index p - 1; a selection is the
// zero-based list index, -1 for none; a row is 0 (left button), 1 (right button) or -1 (neither).
struct SwitchModel {
    int m_sw2[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int m_sw9[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int m_bSwitch2View = 1;
    int m_nBaudSel = -1;
    int m_nDataBitsSel = -1;
    int m_nParitySel = -1;
    int m_nFlowSel = -1;
    int m_nCutterSel = -1;
    int m_nCodePageSel = -1;
    int m_nAutoFeedSel = -1;
    int m_nPin[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

    bool operator==(const SwitchModel&) const = default;
};

// Code page table: list index -> 5-bit value of switch 2 pins 4 (bit 0) to 8 (bit 4).
inline constexpr std::array<int, 19> kCodePageValues = {0,  1,  2,  3,  4,  5,  6,  7,  8, 9,
                                                        11, 12, 13, 17, 18, 20, 22, 25, 26};
inline constexpr int kCodePageCount = 19;
// Baud rate list; the index read as a number is pin 6 + 2 x pin 7 + 4 x pin 8 of switch 9.
inline constexpr std::array<int, 5> kBaudRateValues = {9600, 19200, 38400, 57600, 115200};
inline constexpr int kBaudRateCount = 5;
// List sizes of the other selections.
inline constexpr int kDataBitsCount = 2, kParityCount = 3, kFlowCount = 2, kCutterCount = 2,
                     kAutoFeedCount = 2;

// Value to index: index 0 for values without an entry.
int CodePageIndexFromValue(int value);
// Index to value: 0 for -1 and unknown indexes.
int CodePageValueFromIndex(int index);
// The code page value that switch 2 pins 4 to 8 hold (a pin counts as on when not 0).
int CodePageValueFromPins(const int sw2[8]);
// Baud index from switch 9 pins 6 to 8: 0..4 have entries, 5..7 have none.
int BaudIndexFromPins(const int sw9[8]);
// Pins 6, 7, 8 for a baud index; all off for -1 and unknown indexes.
std::array<int, 3> BaudPinsFromIndex(int index);

// The seven selections from the pins (Get Status); switch 1 pin 5 gives the line feed selection.
void DeriveSelections(SwitchModel& m, int autoFeedPin);

// The setting selectors: each stores nothing itself (the caller stored the new index) and sets the pins
// the setting stands for, and the rows too when that switch is on view.
void ApplyCodePage(SwitchModel& m);
void ApplyBaudRate(SwitchModel& m);
void ApplyFlowControl(SwitchModel& m);
void ApplyAutoCutter(SwitchModel& m);
void ApplyParity(SwitchModel& m);
void ApplyDataBits(SwitchModel& m);

// "Initialize Status": 115200 baud, 8 bits, no parity, DTR/DSR, partial cut, PC437, no line feed.
void InitializeDefaults(SwitchModel& m);

} // namespace pw
