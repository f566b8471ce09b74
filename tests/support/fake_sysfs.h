// A sysfs tree in a temporary folder, shaped like the kernel's, for port descriptions: serial ports on the
// mainboard, USB serial adapters and USB printers with the strings their devices report, parallel ports.
// While alive, PINWRIGHT_SYSFS points at it and PINWRIGHT_USB_DIR at its dev/usb.
#pragma once

#include <filesystem>
#include <string>

namespace pw::test {

class FakeSysfs {
  public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // A ttyS port of the 8250 driver; type 0 is a phantom node with no UART behind it.
    void AddUart(const std::string& tty, int type);
    // A USB device with its first interface and, under it, the class entry: "tty" for ttyUSBn (through a
    // usb-serial port) and ttyACMn, "usbmisc" for the printer driver's lpN (which also appears in dev/usb).
    // Returns the USB device's folder; it is also listed in bus/usb/devices, its interface has the class
    // the device file's kind has (ff for ttyUSB, 02 for ttyACM, 07 for lp).
    std::filesystem::path AddUsb(const std::string& cls, const std::string& name, const std::string& maker,
                                 const std::string& product, const std::string& vendorId,
                                 const std::string& productId);
    // A USB device with one interface of `interfaceClass` ("07", "ff") and no device file under it.
    std::filesystem::path AddUsbWithoutDevice(const std::string& maker, const std::string& product,
                                              const std::string& vendorId, const std::string& productId,
                                              const std::string& interfaceClass);
    // Binds `driver` to a sysfs device folder (its "driver" link), as the kernel does.
    void BindDriver(const std::filesystem::path& dir, const std::string& driver);
    // A kernel module, as loaded (module/NAME).
    void AddModule(const std::string& name);
    // A parallel port's printer device lpN.
    void AddParallel(const std::string& lp);
    // The device goes away, as when its cable is pulled.
    void Unplug(const std::string& cls, const std::string& name);
    // A file in the tree's own dev folder (for names that point there).
    std::filesystem::path DevFile(const std::string& name);

    const std::filesystem::path root;

  private:
    int m_nextUsb = 1;
};

} // namespace pw::test
