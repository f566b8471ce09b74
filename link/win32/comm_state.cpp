#include "link/win32/comm_state.h"

namespace pw::win32 {

namespace {
struct BitField {
    std::uint32_t DcbFields::*field;
    unsigned shift, width;
};

constexpr BitField kFlagBits[] = {
    {&DcbFields::fBinary, 0, 1},
    {&DcbFields::fParity, 1, 1},
    {&DcbFields::fOutxCtsFlow, 2, 1},
    {&DcbFields::fOutxDsrFlow, 3, 1},
    {&DcbFields::fDtrControl, 4, 2},
    {&DcbFields::fDsrSensitivity, 6, 1},
    {&DcbFields::fTXContinueOnXoff, 7, 1},
    {&DcbFields::fOutX, 8, 1},
    {&DcbFields::fInX, 9, 1},
    {&DcbFields::fErrorChar, 10, 1},
    {&DcbFields::fNull, 11, 1},
    {&DcbFields::fRtsControl, 12, 2},
    {&DcbFields::fAbortOnError, 14, 1},
    {&DcbFields::fDummy2, 15, 17},
};

constexpr std::uint32_t Mask(unsigned width) {
    return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
}

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kDtrControlEnable = 1;
constexpr std::uint32_t kRtsControlEnable = 1;
} // namespace

DcbFields DcbFromLineSettings(const LineSettings& s) {
    DcbFields d;
    d.BaudRate = s.baudRate;
    d.ByteSize = s.byteSize;
    d.Parity = s.parity;
    d.StopBits = s.stopBits;
    for (const BitField& b : kFlagBits) d.*b.field = (s.flags >> b.shift) & Mask(b.width);
    return d;
}

LineSettings LineSettingsFromDcb(const DcbFields& d) {
    LineSettings s;
    s.baudRate = d.BaudRate;
    s.byteSize = d.ByteSize;
    s.parity = d.Parity;
    s.stopBits = d.StopBits;
    s.flags = 0;
    for (const BitField& b : kFlagBits) s.flags |= (d.*b.field & Mask(b.width)) << b.shift;
    return s;
}

CommTimeoutsFields CommTimeoutsFor(const TimeLimits& l) {
    return {l.readInterval, l.readTotalMultiplier, l.readTotalConstant, l.writeTotalMultiplier,
            l.writeTotalConstant};
}

std::uint32_t ReadWaitMs(const TimeLimits& l, std::uint32_t length) {
    constexpr std::uint32_t kDefaultMs = 5000;
    const bool anyBytes = l.readInterval == kMaxDword && l.readTotalMultiplier == kMaxDword;
    std::uint64_t ms = anyBytes
                           ? l.readTotalConstant
                           : static_cast<std::uint64_t>(l.readTotalMultiplier) * length + l.readTotalConstant;
    if (ms == 0 || ms >= kMaxDword) return kDefaultMs;
    return static_cast<std::uint32_t>(ms);
}

std::vector<std::uint32_t> ModemLinesToRaise(const DcbFields& d) {
    std::vector<std::uint32_t> functions;
    if (d.fDtrControl == kDtrControlEnable) functions.push_back(kSetDtr);
    if (d.fRtsControl == kRtsControlEnable) functions.push_back(kSetRts);
    return functions;
}

bool RefusedAsUnsupported(std::uint32_t error) {
    return error == kErrorInvalidFunction || error == kErrorNotSupported;
}

} // namespace pw::win32
