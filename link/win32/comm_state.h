// What the Win32 backend writes into a DCB and a COMMTIMEOUTS record, as plain values: the backend copies
// these fields to and from the real records, so the rules build and are tested without windows.h.
#pragma once

#include "link/device_services.h"

#include <cstdint>
#include <vector>

namespace pw::win32 {

// The DCB's line fields and the bit fields of its flags word, bit 0 (fBinary) to bits 15-31 (fDummy2).
struct DcbFields {
    std::uint32_t BaudRate = 0;
    std::uint32_t fBinary = 0, fParity = 0, fOutxCtsFlow = 0, fOutxDsrFlow = 0, fDtrControl = 0,
                  fDsrSensitivity = 0, fTXContinueOnXoff = 0, fOutX = 0, fInX = 0, fErrorChar = 0, fNull = 0,
                  fRtsControl = 0, fAbortOnError = 0, fDummy2 = 0;
    std::uint8_t ByteSize = 0, Parity = 0, StopBits = 0;
};

// The line settings as DCB fields: the flags word unpacked bit field by bit field, the codes unchanged
// (StopBits 1 is one and a half stop bits, which Windows has).
DcbFields DcbFromLineSettings(const LineSettings& settings);
LineSettings LineSettingsFromDcb(const DcbFields& dcb);

struct CommTimeoutsFields {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

CommTimeoutsFields CommTimeoutsFor(const TimeLimits& limits);

// How long a read may wait on a device that has no time limits of its own (a USB or parallel device that
// refuses SetCommTimeouts): as the limits say, and never without end.
std::uint32_t ReadWaitMs(const TimeLimits& limits, std::uint32_t length);

// EscapeCommFunction codes that hold the modem lines on, as the DCB asks: SETRTS (3), SETDTR (5).
constexpr std::uint32_t kSetRts = 3;
constexpr std::uint32_t kSetDtr = 5;
std::vector<std::uint32_t> ModemLinesToRaise(const DcbFields& dcb);

// A refusal that means the port has no such function (a virtual port, a pseudo-terminal under wine):
// ERROR_INVALID_FUNCTION (1) or ERROR_NOT_SUPPORTED (50). The call is skipped, the open goes on.
bool RefusedAsUnsupported(std::uint32_t error);

} // namespace pw::win32
