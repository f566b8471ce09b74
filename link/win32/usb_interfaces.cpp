// The USB printer interfaces present, as SetupAPI lists them for the printer interface class that the USB
// printer class driver registers.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <setupapi.h>

#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"
#include "link/win32/win32_device.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace pw::win32 {

namespace {
const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
} // namespace

bool UsbInterfaceAt(std::uint32_t index, std::string& path, std::string& problem) {
    HDEVINFO set =
        ::SetupDiGetClassDevsW(&kUsbPrintInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return Fail(::GetLastError());
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    const bool ok = ::SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterface, index, &item) != 0;
    const DWORD error = ok ? 0 : ::GetLastError();
    if (ok) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set, &item, nullptr, 0, &size, nullptr); // asks the size only
        std::vector<std::uint8_t> record(
            std::max<std::size_t>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (::SetupDiGetDeviceInterfaceDetailW(set, &item, detail, static_cast<DWORD>(record.size()), nullptr,
                                               nullptr))
            path = Narrow(detail->DevicePath, std::wcslen(detail->DevicePath));
        else
            path.clear(); // details unreadable: the walk skips this one
    }
    ::SetupDiDestroyDeviceInfoList(set);
    if (!ok && error == ERROR_NO_MORE_ITEMS && index == 0) problem = NoUsbPrinterProblem();
    return ok ? true : Fail(error);
}

} // namespace pw::win32
