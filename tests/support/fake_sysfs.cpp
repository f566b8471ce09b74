#include "tests/support/fake_sysfs.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pw::test {

namespace {
int counter = 0;

void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
}
} // namespace

FakeSysfs::FakeSysfs()
    : root(fs::temp_directory_path() /
           ("pw-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(++counter))) {
    fs::create_directories(root / "class" / "tty");
    fs::create_directories(root / "dev" / "usb");
    ::setenv("PINWRIGHT_SYSFS", root.c_str(), 1);
    ::setenv("PINWRIGHT_USB_DIR", (root / "dev" / "usb").c_str(), 1);
}

FakeSysfs::~FakeSysfs() {
    ::unsetenv("PINWRIGHT_SYSFS");
    ::unsetenv("PINWRIGHT_USB_DIR");
    std::error_code ec;
    fs::remove_all(root, ec);
}

void FakeSysfs::AddUart(const std::string& tty, int type) {
    const fs::path port = root / "devices" / "platform" / "serial8250" / "tty" / tty;
    fs::create_directories(port);
    Write(port / "type", std::to_string(type));
    fs::create_directory_symlink(root / "devices" / "platform" / "serial8250", port / "device");
    fs::create_directory_symlink(port, root / "class" / "tty" / tty);
}

namespace {
// A USB device and its first interface, listed in bus/usb/devices.
fs::path UsbDevice(const fs::path& root, int number, const std::string& maker, const std::string& product,
                   const std::string& vendorId, const std::string& productId,
                   const std::string& interfaceClass) {
    const std::string bus = "1-" + std::to_string(number);
    const fs::path device = root / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" / bus;
    fs::create_directories(device / (bus + ":1.0"));
    if (!maker.empty()) Write(device / "manufacturer", maker);
    if (!product.empty()) Write(device / "product", product);
    Write(device / "idVendor", vendorId);
    Write(device / "idProduct", productId);
    Write(device / (bus + ":1.0") / "bInterfaceClass", interfaceClass);
    fs::create_directories(root / "bus" / "usb" / "devices");
    fs::create_directory_symlink(device, root / "bus" / "usb" / "devices" / bus);
    return device;
}
} // namespace

fs::path FakeSysfs::AddUsb(const std::string& cls, const std::string& name, const std::string& maker,
                           const std::string& product, const std::string& vendorId,
                           const std::string& productId) {
    const std::string bus = "1-" + std::to_string(m_nextUsb);
    const bool usbSerial = name.rfind("ttyUSB", 0) == 0;
    const fs::path device = UsbDevice(root, m_nextUsb++, maker, product, vendorId, productId,
                                      usbSerial      ? "ff"
                                      : cls == "tty" ? "02"
                                                     : "07");
    const fs::path interface = device / (bus + ":1.0");
    // usb-serial adapters have a port device between the interface and the tty.
    const fs::path parent = usbSerial ? interface / name : interface;
    const fs::path entry = parent / cls / name;
    fs::create_directories(entry);
    fs::create_directory_symlink(parent, entry / "device");
    fs::create_directories(root / "class" / cls);
    fs::create_directory_symlink(entry, root / "class" / cls / name);
    if (cls == "usbmisc") Write(root / "dev" / "usb" / name, "");
    return device;
}

fs::path FakeSysfs::AddUsbWithoutDevice(const std::string& maker, const std::string& product,
                                        const std::string& vendorId, const std::string& productId,
                                        const std::string& interfaceClass) {
    return UsbDevice(root, m_nextUsb++, maker, product, vendorId, productId, interfaceClass);
}

void FakeSysfs::BindDriver(const fs::path& dir, const std::string& driver) {
    const fs::path drivers = root / "bus" / "usb" / "drivers" / driver;
    fs::create_directories(drivers);
    std::error_code ec;
    fs::remove(dir / "driver", ec);
    fs::create_directory_symlink(drivers, dir / "driver");
}

void FakeSysfs::AddModule(const std::string& name) {
    fs::create_directories(root / "module" / name);
}

void FakeSysfs::AddParallel(const std::string& lp) {
    const fs::path entry = root / "devices" / "platform" / "parport_pc.956" / "parport0" / "printer" / lp;
    fs::create_directories(entry);
    fs::create_directory_symlink(entry.parent_path().parent_path(), entry / "device");
    fs::create_directories(root / "class" / "printer");
    fs::create_directory_symlink(entry, root / "class" / "printer" / lp);
}

void FakeSysfs::Unplug(const std::string& cls, const std::string& name) {
    fs::remove(root / "class" / cls / name);
    if (cls == "usbmisc") fs::remove(root / "dev" / "usb" / name);
}

fs::path FakeSysfs::DevFile(const std::string& name) {
    const fs::path file = root / "dev" / name;
    fs::create_directories(file.parent_path());
    if (!fs::exists(file)) Write(file, "");
    return file;
}

} // namespace pw::test
