// Doctor's checks on Windows: the object manager says whether a COM or LPT port exists and what stands
// behind it, an open without a byte sent and the system's handle table whether another program holds it
// (and which), and SetupAPI whether a USB printer is present under the printer interface class. Windows
// gives every user its ports: no group.
#include "cli/doctor.h"

#include "link/port_info.h"
#include "link/printer_port.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <vector>

namespace pw::cli {

namespace {

// One handle of the system's table (SystemExtendedHandleInformation).
struct HandleEntry {
    PVOID object;
    ULONG_PTR process;
    ULONG_PTR value;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry handles[1];
};
constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr auto kObjectNameInformation = static_cast<OBJECT_INFORMATION_CLASS>(1);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The object name of a handle of this process ("\Device\Serial1"); empty when it has none.
std::wstring ObjectName(HANDLE h) {
    std::vector<unsigned char> buffer(4096);
    ULONG length = 0;
    if (::NtQueryObject(h, kObjectNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                        &length) != 0)
        return {};
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    return name->Buffer ? std::wstring(name->Buffer, name->Length / sizeof(wchar_t)) : std::wstring();
}

struct Holder {
    std::string program; // "pinwright-cli.exe"
    DWORD pid = 0;
    std::string Named() const { return program + " (PID " + std::to_string(pid) + ")"; }
};

// The programs, but this one, with a handle open on a character device of one of `names` (object names):
// each handle of another process is copied here (where this user may) and asked its
// name. Only character devices are asked, which answer at once.
std::vector<Holder> Holders(const std::vector<std::wstring>& names) {
    std::vector<Holder> found;
    std::vector<unsigned char> buffer(1 << 20);
    NTSTATUS status = 0;
    for (int tries = 0; tries < 8; ++tries) {
        ULONG needed = 0;
        status = ::NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), &needed);
        if (status != kInfoLengthMismatch) break;
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
    }
    if (status != 0) return found;
    std::vector<std::wstring> wanted;
    for (const std::wstring& n : names)
        if (!n.empty()) wanted.push_back(Lower(n));
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const std::size_t most = (buffer.size() - offsetof(HandleTable, handles)) / sizeof(HandleEntry);
    const DWORD self = ::GetCurrentProcessId();
    std::vector<DWORD> named;
    for (std::size_t i = 0; i < table->count && i < most; ++i) {
        const HandleEntry& e = table->handles[i];
        const auto pid = static_cast<DWORD>(e.process);
        if (pid == self || std::find(named.begin(), named.end(), pid) != named.end()) continue;
        const HANDLE process =
            ::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) continue;
        HANDLE copy = nullptr;
        if (::DuplicateHandle(process, reinterpret_cast<HANDLE>(e.value), ::GetCurrentProcess(), &copy, 0,
                              FALSE, DUPLICATE_SAME_ACCESS)) {
            if (::GetFileType(copy) == FILE_TYPE_CHAR &&
                std::find(wanted.begin(), wanted.end(), Lower(ObjectName(copy))) != wanted.end()) {
                wchar_t image[MAX_PATH] = {};
                DWORD size = MAX_PATH;
                std::wstring program = L"?";
                if (::QueryFullProcessImageNameW(process, 0, image, &size)) {
                    program.assign(image, size);
                    program = program.substr(program.find_last_of(L"\\/") + 1);
                }
                found.push_back({win32::Narrow(program), pid});
                named.push_back(pid);
            }
            ::CloseHandle(copy);
        }
        ::CloseHandle(process);
    }
    return found;
}

std::string Joined(const std::vector<Holder>& holders) {
    std::string text;
    for (const Holder& h : holders) text += (text.empty() ? "" : ", ") + h.Named();
    return text;
}

} // namespace

std::vector<std::string> LocalClientsOf(const std::vector<std::string>&, std::uint16_t) {
    return {}; // Windows keeps the table of connections behind iphlpapi: not looked at
}

void CheckLocalPort(const std::string& port, bool given, Diagnosis& d) {
    const Severity absent = given ? Severity::Error : Severity::Info;
    if (port == "USB") {
        const PortInfo info = DescribePort(port);
        if (!info.present) {
            d.Add(
                "device", absent,
                "No USB printer is present under the printer class (GUID_DEVINTERFACE_USBPRINT). Plug it in "
                "and switch it on; if Device Manager lists it under \"Other devices\" or \"Universal Serial "
                "Bus devices\" instead, its USB interface is vendor class: set it to printer class (a memory "
                "or DIP switch on most printers), or install the maker's virtual COM port driver.",
                {"devmgmt.msc"});
            return;
        }
        d.device = info.device;
        d.Add("device", Severity::Ok, "A USB printer is present under the printer class.");
        return;
    }
    const bool deviceName = win32::IsDeviceNamespaceName(port);
    const std::string dosName = deviceName ? win32::WithoutDevicePrefix(port) : port;
    const std::string path = win32::DeviceNameFor(port);
    d.device = path;
    wchar_t target[512] = {};
    if (::QueryDosDeviceW(win32::Widen(dosName).c_str(), target, sizeof target / sizeof target[0]) == 0) {
        d.Add("device", absent,
              dosName + " does not exist on this machine. Device Manager lists the COM ports there are under "
                        "\"Ports (COM & LPT)\"; a USB-serial adapter without its driver is under \"Other "
                        "devices\".",
              {"devmgmt.msc", "mode"});
        return;
    }
    d.Add("device", Severity::Ok, dosName + " exists (" + win32::Narrow(target) + ").");
    // An open that sends nothing: a port is one program's at a time. Where the open is refused, and where
    // it is not (wine lets two programs open one port), the system's handles say who else has it.
    const std::wstring device = target;
    const HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    const DWORD error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    std::vector<std::wstring> names = {device};
    if (h != INVALID_HANDLE_VALUE) {
        names.push_back(ObjectName(h));
        ::CloseHandle(h);
    }
    const std::vector<Holder> holders = Holders(names);
    const bool refused = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!holders.empty())
        d.Add("holder", Severity::Error,
              dosName + " is held by " + Joined(holders) +
                  ": a port is one program's at a time (another reader takes the printer's replies). Close "
                  "that program, or end it:",
              {"tasklist /fi \"PID eq " + std::to_string(holders.front().pid) + "\"",
               "taskkill /pid " + std::to_string(holders.front().pid)});
    else if (refused)
        d.Add("holder", Severity::Error,
              dosName +
                  " is held by another program, which Windows does not name to this user: a port is one "
                  "program's at a time. Close the printer's own utility, a till or terminal program, or a "
                  "print queue on this port; Resource Monitor finds it: CPU, Associated Handles, search "
                  "for " +
                  win32::Narrow(target) + ".",
              {"resmon"});
    else if (error != ERROR_SUCCESS)
        d.Add("holder", Severity::Error,
              dosName + " exists but cannot be opened (error " + std::to_string(error) + ").");
    else
        d.Add("holder", Severity::Ok, "No other program holds " + dosName + ".");
}

} // namespace pw::cli
