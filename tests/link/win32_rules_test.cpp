// The Win32 backend's rules, without the API: the DCB a serial open writes, the time limits, the device
// names and the words for a failed open.
#include "link/printer_port.h"
#include "link/win32/comm_state.h"
#include "link/win32/device_names.h"
#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::win32;

namespace {

// A DCB as a driver may report it: XON/XOFF, CTS and DSR sensitivity, RTS handshake, abort on error, and
// the flags the port must keep (binary, TX continue on XOFF, error character, the reserved bits).
constexpr std::uint32_t kBusyDriverFlags =
    0x0001 | 0x0004 | 0x0040 | 0x0080 | 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x2000 | 0x4000 | 0xABCD8000u;

DcbFields DcbAfterSerialOpen(std::int32_t parity, std::int32_t stopBits) {
    test::FakeDeviceServices os;
    auto& dev = os.AddDevice("COM3");
    dev.settings.flags = kBusyDriverFlags;
    CPrinterPort port(os);
    port.m_strPort = "COM3";
    port.m_nBaudRate = 19200;
    port.m_nByteSize = 8;
    port.m_nParity = parity;
    port.m_nStopBits = stopBits;
    EXPECT_EQ(port.Open(), 1);
    return DcbFromLineSettings(dev.settings);
}

TEST(Win32Rules, SerialOpenGivesTheDcbItsLineFieldsAndKeepsTheDriversOwn) {
    const DcbFields d = DcbAfterSerialOpen(1, 1);
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, 1);
    EXPECT_EQ(d.StopBits, 1) << "one and a half stop bits pass to Windows as they are";
    EXPECT_EQ(d.fParity, 1u);
    EXPECT_EQ(d.fOutxCtsFlow, 0u);
    EXPECT_EQ(d.fOutxDsrFlow, 1u);
    EXPECT_EQ(d.fDtrControl, 1u) << "DTR_CONTROL_ENABLE";
    EXPECT_EQ(d.fDsrSensitivity, 0u);
    EXPECT_EQ(d.fOutX, 0u);
    EXPECT_EQ(d.fInX, 0u);
    EXPECT_EQ(d.fNull, 0u);
    EXPECT_EQ(d.fRtsControl, 1u) << "RTS_CONTROL_ENABLE, not the driver's handshake";
    EXPECT_EQ(d.fAbortOnError, 0u);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fTXContinueOnXoff, 1u);
    EXPECT_EQ(d.fErrorChar, 1u);
    EXPECT_EQ(d.fDummy2, 0xABCD8000u >> 15) << "the reserved bits stay as the driver had them";
    EXPECT_EQ(ModemLinesToRaise(d), (std::vector<std::uint32_t>{kSetDtr, kSetRts}));

    const DcbFields none = DcbAfterSerialOpen(0, 2);
    EXPECT_EQ(none.Parity, 0);
    EXPECT_EQ(none.fParity, 0u) << "no parity, no parity check";
    EXPECT_EQ(none.StopBits, 2);
}

TEST(Win32Rules, EveryFlagBitLandsInItsDcbFieldAndBack) {
    struct Case {
        std::uint32_t word;
        std::uint32_t DcbFields::*field;
        std::uint32_t value;
    } cases[] = {
        {0x00000001u, &DcbFields::fBinary, 1},         {0x00000002u, &DcbFields::fParity, 1},
        {0x00000004u, &DcbFields::fOutxCtsFlow, 1},    {0x00000008u, &DcbFields::fOutxDsrFlow, 1},
        {0x00000020u, &DcbFields::fDtrControl, 2},     {0x00000030u, &DcbFields::fDtrControl, 3},
        {0x00000040u, &DcbFields::fDsrSensitivity, 1}, {0x00000080u, &DcbFields::fTXContinueOnXoff, 1},
        {0x00000100u, &DcbFields::fOutX, 1},           {0x00000200u, &DcbFields::fInX, 1},
        {0x00000400u, &DcbFields::fErrorChar, 1},      {0x00000800u, &DcbFields::fNull, 1},
        {0x00002000u, &DcbFields::fRtsControl, 2},     {0x00004000u, &DcbFields::fAbortOnError, 1},
        {0x00008000u, &DcbFields::fDummy2, 1},         {0x80000000u, &DcbFields::fDummy2, 0x10000},
    };
    for (const Case& c : cases) {
        LineSettings s;
        s.flags = c.word;
        const DcbFields d = DcbFromLineSettings(s);
        EXPECT_EQ(d.*c.field, c.value) << std::hex << c.word;
        DcbFields only;
        only.*c.field = c.value;
        EXPECT_EQ(LineSettingsFromDcb(only).flags, c.word) << std::hex << c.word << " alone";
    }
    LineSettings all;
    all.flags = 0xFFFFFFFFu;
    all.baudRate = 57600;
    all.byteSize = 7;
    all.parity = 2;
    all.stopBits = 1;
    const LineSettings back = LineSettingsFromDcb(DcbFromLineSettings(all));
    EXPECT_EQ(back.flags, all.flags);
    EXPECT_EQ(back.baudRate, all.baudRate);
    EXPECT_EQ(back.byteSize, all.byteSize);
    EXPECT_EQ(back.parity, all.parity);
    EXPECT_EQ(back.stopBits, all.stopBits);
}

TEST(Win32Rules, TimeLimitsBecomeCommTimeoutsAndBoundReadsOfDevicesWithoutThem) {
    const CommTimeoutsFields serial = CommTimeoutsFor(SerialTimeLimits());
    EXPECT_EQ(serial.ReadIntervalTimeout, 0u);
    EXPECT_EQ(serial.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(serial.ReadTotalTimeoutConstant, 5000u);
    EXPECT_EQ(serial.WriteTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(serial.WriteTotalTimeoutConstant, 1000u);
    const CommTimeoutsFields transfer = CommTimeoutsFor(TransferTimeLimits());
    EXPECT_EQ(transfer.ReadIntervalTimeout, 0xFFFFFFFFu)
        << "MAXDWORD twice: return as soon as any bytes came";
    EXPECT_EQ(transfer.ReadTotalTimeoutMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(transfer.ReadTotalTimeoutConstant, 5000u);

    EXPECT_EQ(ReadWaitMs(TransferTimeLimits(), 20), 5000u) << "any bytes: the constant alone";
    EXPECT_EQ(ReadWaitMs(TimeLimits{0, 10, 100, 0, 0}, 20), 300u);
    EXPECT_EQ(ReadWaitMs(TimeLimits{}, 20), 5000u) << "no limits at all still end";
    EXPECT_EQ(ReadWaitMs(TimeLimits{0, 0xFFFFFFFFu, 1, 0, 0}, 20), 5000u)
        << "no overflow into a wait without end";
}

TEST(Win32Rules, OnlyMissingFunctionsCountAsUnsupported) {
    EXPECT_TRUE(RefusedAsUnsupported(50)) << "ERROR_NOT_SUPPORTED: SETDTR on a pseudo-terminal under wine";
    EXPECT_TRUE(RefusedAsUnsupported(1)) << "ERROR_INVALID_FUNCTION";
    for (std::uint32_t real : {0u, 5u, 6u, 31u, 87u, 995u}) EXPECT_FALSE(RefusedAsUnsupported(real)) << real;
    LineSettings handshake;
    handshake.flags = 0x2020; // DTR and RTS handshake: the driver drives the lines
    EXPECT_TRUE(ModemLinesToRaise(DcbFromLineSettings(handshake)).empty());
}

TEST(Win32Rules, ComPortsGoThroughTheDeviceNamespace) {
    EXPECT_EQ(DeviceNameFor("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(DeviceNameFor("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(DeviceNameFor("\\\\.\\COM12"), "\\\\.\\COM12") << "given whole, passed as is";
    EXPECT_EQ(DeviceNameFor("LPT1"), "LPT1");
    EXPECT_EQ(DeviceNameFor("com3"), "\\\\.\\com3") << "case-blind, as Windows";
    EXPECT_EQ(DeviceNameFor("COMfoo"), "COMfoo");
    EXPECT_EQ(DeviceNameFor("COM"), "COM");
    const std::string usb = "\\\\?\\usb#vid_0519&pid_0001#5&1b2c3d&0&2#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"
                            "\\USB0/4";
    EXPECT_EQ(DeviceNameFor(usb), usb);
}

TEST(Win32Rules, OnlyPortsAreTakenFromTheDeviceNamespace) {
    const std::string usb =
        "\\\\?\\usb#vid_0519&pid_0001#5&1b2c3d&0&2#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    const std::pair<std::string, PortNameKind> table[] = {
        {"COM1", PortNameKind::Serial},
        {"com12", PortNameKind::Serial},
        {"\\\\.\\COM12", PortNameKind::Serial},
        {"\\\\?\\com3", PortNameKind::Serial},
        {"LPT1", PortNameKind::Parallel},
        {"\\\\.\\lpt2", PortNameKind::Parallel},
        {usb, PortNameKind::UsbInterface},
        {usb + "\\USB0/4", PortNameKind::UsbInterface},
        {"\\\\.\\USB#VID_0519&PID_0001#5&1B2C3D&0&2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}\\USB0/4",
         PortNameKind::UsbInterface},
        // Files, folders, volumes, pipes, other devices: never a port, whatever they carry.
        {"\\\\?\\C:\\data\\shop.sts", PortNameKind::None},
        {"\\\\.\\C:\\data\\shop.sts", PortNameKind::None},
        {"C:\\data\\shop.sts", PortNameKind::None},
        {"\\\\?\\UNC\\server\\share\\shop.sts", PortNameKind::None},
        {"\\\\.\\pipe\\spooler", PortNameKind::None},
        {"\\\\.\\NUL", PortNameKind::None},
        {"\\\\.\\PhysicalDrive0", PortNameKind::None},
        {"\\\\?\\Volume{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\shop.sts", PortNameKind::None},
        {"\\\\?\\C:\\x#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", PortNameKind::None},
        {"\\\\?\\C:#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", PortNameKind::None},
        {"\\\\?\\a/b#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", PortNameKind::None},
        {usb + "\\..\\..\\C:\\data\\shop.sts", PortNameKind::None},
        {usb + "\\USB0/../../shop.sts", PortNameKind::None},
        {usb + ":stream", PortNameKind::None},
        {"\\\\?\\#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", PortNameKind::None},
        {"\\\\?\\usb#vid_0519#{28d78fad-5a12-11d1-ae5b-0000f803a8c3}", PortNameKind::None},
        {"\\\\.\\COM1:", PortNameKind::None},
        {"\\\\.\\COM12\\x", PortNameKind::None},
        {"\\\\.\\COM", PortNameKind::None},
        {"COMfoo", PortNameKind::None},
        {"USB", PortNameKind::None},
        {"", PortNameKind::None},
    };
    for (const auto& [name, kind] : table) EXPECT_EQ(KindOfPortName(name), kind) << name;
    EXPECT_EQ(KindOfPortName(usb.substr(4)), PortNameKind::None)
        << "an interface only in the device namespace";
    EXPECT_TRUE(IsDeviceNamespaceName("\\\\.\\COM1"));
    EXPECT_TRUE(IsDeviceNamespaceName("\\\\?\\C:\\x"));
    EXPECT_FALSE(IsDeviceNamespaceName("COM1"));
    EXPECT_FALSE(IsDeviceNamespaceName("\\\\server\\share"));
    EXPECT_EQ(WithoutDevicePrefix("\\\\?\\com3"), "com3");
    EXPECT_EQ(WithoutDevicePrefix("COM3"), "COM3");
    const std::string refused = NotAPortProblem("\\\\?\\C:\\data\\shop.sts");
    EXPECT_EQ(refused.rfind("\\\\?\\C:\\data\\shop.sts is not a printer port", 0), 0u) << refused;
    EXPECT_NE(refused.find("Nothing was opened"), std::string::npos) << refused;
}

TEST(Win32Rules, OnlyDevicesAreWrittenWhateverTheirName) {
    // GetFileType's answer and the error after it: a character device; a device Windows does not sort
    // (a driver's generic type) answers "unknown" without an error. A failed call answers "unknown" too.
    EXPECT_TRUE(IsPortFileType(kFileTypeChar, 0));
    EXPECT_TRUE(IsPortFileType(kFileTypeChar, 5));
    EXPECT_TRUE(IsPortFileType(kFileTypeUnknown, 0));
    EXPECT_FALSE(IsPortFileType(kFileTypeUnknown, 6)) << "the call failed";
    for (std::uint32_t type : {kFileTypeDisk, kFileTypePipe, kFileTypeRemote, 7u})
        EXPECT_FALSE(IsPortFileType(type, 0)) << type;
    EXPECT_EQ(NotADeviceProblem("COM5", kFileTypeDisk),
              "COM5 is not a printer port: it leads to a file, not a device. Nothing was written to it.");
    EXPECT_NE(NotADeviceProblem("\\\\.\\com12", kFileTypePipe)
                  .find("COM12 is not a printer port: it leads to a pipe"),
              std::string::npos);
}

TEST(Win32Rules, AFailedOpenSaysWhichPortAndWhatToDo) {
    const std::string missing = OpenProblem("COM3", 2);
    EXPECT_NE(missing.find("no COM3"), std::string::npos) << missing;
    EXPECT_NE(missing.find("Device Manager"), std::string::npos) << missing;
    EXPECT_EQ(OpenProblem("COM3", 3), missing);
    for (std::uint32_t busy : {5u, 32u}) {
        const std::string text = OpenProblem("LPT2", busy);
        EXPECT_EQ(text.rfind("LPT2 is busy", 0), 0u) << text;
    }
    EXPECT_NE(OpenProblem("\\\\.\\COM12", 1167).find("COM12 does not respond"), std::string::npos);
    const std::string gone = OpenProblem("\\\\?\\usb#vid_0519\\USB0/4", 2);
    EXPECT_NE(gone.find("USB printer is gone"), std::string::npos) << gone;
    EXPECT_NE(OpenProblem("COM1", 1234).find("Windows error 1234"), std::string::npos);
    EXPECT_NE(NotASerialPortProblem("COM4", 1).find("COM4 is not a serial port"), std::string::npos);
}

TEST(Win32Rules, WinsockErrorsOfAConnectionSayWhatHappened) {
    const std::pair<std::uint32_t, ConnectFailure> table[] = {
        {10061, ConnectFailure::Refused},      {10060, ConnectFailure::TimedOut},
        {10065, ConnectFailure::Unreachable},  {10051, ConnectFailure::Unreachable},
        {10050, ConnectFailure::Unreachable},  {10064, ConnectFailure::Unreachable},
        {11001, ConnectFailure::HostNotFound}, {11002, ConnectFailure::HostNotFound},
        {11004, ConnectFailure::HostNotFound}, {10054, ConnectFailure::Other},
    };
    for (auto [error, why] : table) EXPECT_EQ(ConnectFailureOf(error), why) << error;
}

} // namespace
