// pinwright-cli doctor: what stands between the user and a printer. The system it reads is a tree the test
// builds (sysfs, /proc, udev's rules and database, systemd's masks), or the real one where a real process
// holds a real pseudo-terminal; network listeners stand for printers that refuse, stay silent, answer as a
// web server, turn a second client away or are busy with one.
#include "tests/support/cli_fixture.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/test_listener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Json = nlohmann::json;

extern char** environ;

namespace {

// The finding `check` of one port's diagnosis; null when there is none.
Json Finding(const Json& port, const std::string& check) {
    for (const Json& f : port["findings"])
        if (f["check"] == check) return f;
    return nullptr;
}

bool Has(const Json& text, const std::string& part) {
    return text.is_string() && text.get<std::string>().find(part) != std::string::npos;
}

// A machine as doctor reads it: sysfs (FakeSysfs), a /proc with the processes the test names, and a root
// for udev's and systemd's files.
class System {
  public:
    System() : proc(sys.root / "proc"), udev(sys.root / "udev") {
        fs::create_directories(proc);
        fs::create_directories(udev);
    }
    // A process `name` with the files `opened` open.
    void Process(long pid, const std::string& name, const std::vector<fs::path>& opened = {}) {
        const fs::path dir = proc / std::to_string(pid);
        fs::create_directories(dir / "fd");
        std::ofstream(dir / "comm", std::ios::binary) << name << "\n";
        int fd = 3;
        for (const fs::path& file : opened) fs::create_symlink(file, dir / "fd" / std::to_string(fd++));
    }
    void File(const fs::path& relative, const std::string& text) {
        fs::create_directories((udev / relative).parent_path());
        std::ofstream(udev / relative, std::ios::binary) << text;
    }
    std::map<std::string, std::string> Env() const {
        return {{"PINWRIGHT_PROC", proc.string()}, {"PINWRIGHT_UDEV", udev.string()}};
    }

    FakeSysfs sys;
    const fs::path proc, udev;
};

TEST(CliDoctor, NamesEachObstacleOfTheSystemWithItsFixAndChangesNothing) {
    System m;
    // A USB-serial adapter, held by another program, that ModemManager would probe and brltty's rules list.
    const fs::path ftdi = m.sys.AddUsb("tty", "ttyUSB0", "FTDI", "FT232R USB UART", "0403", "6001");
    m.sys.BindDriver(ftdi / "1-1:1.0" / "ttyUSB0", "ftdi_sio");
    const fs::path ttyUSB0 = m.sys.DevFile("ttyUSB0");
    // Two CDC-ACM printers: udev told ModemManager to ignore the first; a rule names the second, not yet
    // applied.
    m.sys.AddUsb("tty", "ttyACM0", "Meridox", "LTX-582", "0519", "2013");
    std::ofstream(m.sys.root / "class" / "tty" / "ttyACM0" / "dev") << "166:0\n";
    m.File("run/udev/data/c166:0", "S:serial/by-id/usb-Meridox_LTX-582\nE:ID_MM_DEVICE_IGNORE=1\n");
    const fs::path ttyACM0 = m.sys.DevFile("ttyACM0");
    m.sys.AddUsb("tty", "ttyACM1", "Meridox", "LTX-583", "0519", "2014");
    std::ofstream(m.sys.root / "class" / "tty" / "ttyACM1" / "dev") << "166:1\n";
    m.File("etc/udev/rules.d/70-till.rules",
           "# the till's printer\n"
           "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0519\", ATTRS{idProduct}==\"2014\", "
           "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
    const fs::path ttyACM1 = m.sys.DevFile("ttyACM1");
    // A CH340 that brltty took: its interface held through usbfs, no tty.
    const fs::path ch340 = m.sys.AddUsbWithoutDevice("", "USB Serial", "1a86", "7523", "ff");
    m.sys.BindDriver(ch340 / "1-4:1.0", "usbfs");
    m.File("usr/lib/udev/rules.d/85-brltty.rules",
           "# Device: 1A86:7523\n"
           "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n"
           "# ENV{PRODUCT}==\"519/2013/*\" is commented out\n"
           "ENV{PRODUCT}==\"403/6001/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"at\", GOTO=\"brltty_usb_run\"\n");
    // A USB printer without a driver (usblp not loaded), and a vendor-class device.
    m.sys.AddUsbWithoutDevice("Meridox", "LTX-580", "0519", "0001", "07");
    m.sys.AddUsbWithoutDevice("", "", "0fe6", "811e", "ff");
    // The processes; one names itself with bytes that must not reach a terminal as they are.
    m.Process(1, "systemd");
    m.Process(100, "ModemManager");
    m.Process(200, "brltty");
    m.Process(4242, "mon\x1b[2J\xff", {ttyUSB0});
    const auto before = fs::last_write_time(m.udev / "etc/udev/rules.d/70-till.rules");

    auto run = RunCli({"--json", "doctor", "-p", ttyUSB0.string(), "-p", ttyACM0.string(), "-p",
                       ttyACM1.string(), "-p", "COM7", "-p", "USB"},
                      20000, m.Env());
    ASSERT_EQ(run.exit, 1) << run.out << run.err;
    const Json all = Json::parse(run.out);
    ASSERT_EQ(all.size(), 5u) << run.out;

    const Json& usb0 = all[0];
    EXPECT_EQ(usb0["in-the-way"], true);
    EXPECT_EQ(Finding(usb0, "device")["severity"], "ok");
    EXPECT_TRUE(
        Has(Finding(usb0, "kind")["text"], "USB-serial adapter (ttyUSB0, driver ftdi_sio, USB 0403:6001"))
        << usb0;
    const Json holder = Finding(usb0, "holder");
    EXPECT_EQ(holder["severity"], "error");
    EXPECT_TRUE(Has(holder["text"], "(PID 4242)")) << holder;
    EXPECT_TRUE(Has(holder["text"], "mon [2J\xEF\xBF\xBD")) << "control bytes blanked, a stray byte U+FFFD";
    const Json mm = Finding(usb0, "modemmanager");
    EXPECT_EQ(mm["severity"], "warning");
    EXPECT_EQ(mm["file"]["path"], "/etc/udev/rules.d/70-pinwright-0403-6001.rules");
    EXPECT_TRUE(Has(mm["file"]["content"], "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
                                           "ENV{ID_MM_DEVICE_IGNORE}=\"1\""))
        << mm;
    const Json brltty = Finding(usb0, "brltty");
    EXPECT_EQ(brltty["severity"], "warning") << "listed, not yet taken: the tty is there";
    EXPECT_EQ(brltty["commands"][1], "sudo systemctl mask brltty-udev.service brltty.service");

    const Json& acm0 = all[1];
    EXPECT_EQ(acm0["in-the-way"], false) << acm0;
    EXPECT_TRUE(Has(Finding(acm0, "kind")["text"], "CDC-ACM"));
    EXPECT_EQ(Finding(acm0, "modemmanager")["severity"], "ok");
    EXPECT_EQ(Finding(acm0, "brltty"), nullptr) << "a commented-out rule names nothing";
    EXPECT_EQ(Finding(acm0, "holder")["severity"], "ok");

    const Json mm1 = Finding(all[2], "modemmanager");
    EXPECT_EQ(mm1["severity"], "warning") << "a rule that udev has not applied yet";
    EXPECT_TRUE(Has(mm1["text"], "70-till.rules")) << mm1;
    EXPECT_EQ(mm1["commands"][1], "sudo udevadm trigger --action=add --name-match=ttyACM1");

    const Json& com7 = all[3];
    EXPECT_EQ(Finding(com7, "device")["severity"], "error") << "named with -p, and not there";
    const Json taken = Finding(com7, "brltty");
    EXPECT_EQ(taken["severity"], "error") << com7;
    EXPECT_TRUE(Has(taken["text"], "1a86:7523")) << taken;
    EXPECT_TRUE(Has(taken["text"], "ttyUSB is gone")) << taken;

    const Json& usb = all[4];
    std::vector<Json> drivers;
    for (const Json& f : usb["findings"])
        if (f["check"] == "usb-driver") drivers.push_back(f);
    ASSERT_EQ(drivers.size(), 2u) << usb;
    EXPECT_EQ(drivers[0]["severity"], "error");
    EXPECT_TRUE(Has(drivers[0]["text"], "0519:0001")) << drivers[0];
    EXPECT_EQ(drivers[0]["commands"][0], "sudo modprobe usblp");
    EXPECT_EQ(drivers[1]["severity"], "warning");
    EXPECT_TRUE(Has(drivers[1]["text"], "0fe6:811e is a vendor-class device")) << drivers[1];

    // The fixes applied: brltty masked and stopped, usblp loaded, the program closed; ModemManager gone.
    fs::remove_all(m.proc / "200");
    fs::remove_all(m.proc / "4242");
    fs::remove_all(m.proc / "100");
    fs::create_directories(m.udev / "etc/systemd/system");
    fs::create_symlink("/dev/null", m.udev / "etc/systemd/system/brltty-udev.service");
    m.sys.AddModule("usblp");
    auto text = RunCli({"doctor", "-p", ttyUSB0.string(), "-p", "USB"}, 20000, m.Env());
    EXPECT_EQ(text.exit, 1) << "the printer-class device still has no driver";
    EXPECT_NE(text.out.find("brltty-udev is masked"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("ModemManager is not running"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("no driver bound although usblp is loaded"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    // Every port of the dialogs: absent ones are only said, the driverless printer still stands in the way.
    auto sweep = RunCli({"--json", "doctor"}, 20000, m.Env());
    EXPECT_EQ(sweep.exit, 1) << sweep.out;
    const Json swept = Json::parse(sweep.out);
    ASSERT_EQ(swept.size(), 12u) << sweep.out;
    EXPECT_EQ(swept[6]["port"], "COM7");
    EXPECT_EQ(swept[6]["in-the-way"], false) << swept[6];
    EXPECT_EQ(swept[11]["port"], "USB");
    EXPECT_EQ(Finding(swept[11], "usb-driver")["severity"], "error") << swept[11];
    auto clear = RunCli({"doctor", "-p", ttyUSB0.string()}, 20000, m.Env());
    EXPECT_EQ(clear.exit, 0) << clear.out;
    EXPECT_NE(clear.out.find("Nothing stands in the way."), std::string::npos) << clear.out;

    // Doctor only read the tree.
    EXPECT_EQ(fs::last_write_time(m.udev / "etc/udev/rules.d/70-till.rules"), before);
    EXPECT_FALSE(fs::exists(m.udev / "etc/udev/rules.d/70-pinwright-0403-6001.rules"));
}

// Hostile files: a udev record and rules without line ends, a binary comm, NUL bytes; doctor reads what it
// can and says nothing it did not find.
TEST(CliDoctor, OddBytesInTheSystemsFilesAreReadAsData) {
    System m;
    m.sys.AddUsb("tty", "ttyACM0", std::string("Mer\x01") + "idox\x9b" + "31m", "LTX\x7f", "0519", "2013");
    std::ofstream(m.sys.root / "class" / "tty" / "ttyACM0" / "dev") << "../../../etc/passwd\n";
    const fs::path acm = m.sys.DevFile("ttyACM0");
    m.Process(100, "ModemManager");
    m.Process(7, std::string("\0\0\xfe", 3));
    m.File("etc/udev/rules.d/10-odd.rules",
           std::string(10000, 'x') + "\n" +
               std::string("ATTRS{idVendor}==\"0519\"\0,ATTRS{idProduct}==\"2013\"", 48));
    auto run = RunCli({"--json", "doctor", "-p", acm.string()}, 20000, m.Env());
    ASSERT_EQ(run.exit, 1) << run.out << run.err;
    const Json one = Json::parse(run.out)[0];
    const Json mm = Finding(one, "modemmanager");
    EXPECT_EQ(mm["severity"], "warning") << "the NUL-split line sets nothing: a rule file to install";
    EXPECT_EQ(mm["file"]["path"], "/etc/udev/rules.d/70-pinwright-0519-2013.rules") << mm;
    auto text = RunCli({"doctor", "-p", acm.string()}, 20000, m.Env());
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.find("\x9b"), std::string::npos) << "a C1 control is escaped";
}

// As a user in none of the device's groups: the group that may open it and the line that adds the user.
// Root makes the file and runs the program as nobody; an ordinary user (tests/as_user.sh) is given a
// root:dialout 0660 file.
TEST(CliDoctor, APortThisUserMayNotOpenNamesTheGroupAndTheCommand) {
    FakeSysfs sys;
    const bool root = ::geteuid() == 0;
    const fs::path dir = fs::temp_directory_path() / ("pw-doctor-access-" + std::to_string(::getpid()));
    std::string device;
    if (root) {
        fs::create_directories(dir);
        device = (dir / "ttyS-dialout").string();
        std::ofstream(device).put('x');
        const ::group* dialout = ::getgrnam("dialout");
        ASSERT_NE(dialout, nullptr);
        ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
        fs::permissions(device, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                    fs::perms::group_write);
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    } else if (const char* given = std::getenv("PINWRIGHT_TEST_DIALOUT_DEVICE")) {
        device = given;
    } else {
        GTEST_SKIP() << "needs root, or a root:dialout 0660 file in PINWRIGHT_TEST_DIALOUT_DEVICE";
    }
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{root ? dir : fs::path()};
    const std::vector<std::string> args = {"--json", "doctor", "-p", device};
    const auto run = root ? RunCliAs("nobody", args, 20000) : RunCli(args, 20000);
    ASSERT_EQ(run.exit, 1) << run.out << run.err;
    const Json access = Finding(Json::parse(run.out)[0], "access");
    EXPECT_EQ(access["severity"], "error") << run.out;
    EXPECT_TRUE(Has(access["text"], "group dialout")) << access;
    ASSERT_FALSE(access["commands"].empty());
    EXPECT_EQ(access["commands"][0], "sudo usermod -aG dialout \"$USER\"");
    EXPECT_TRUE(Has(access["commands"][1], "log out and in again")) << access;
}

class CliDoctorPrinters : public CliFixture {};

// A process that holds `path` open for reading until it is ended.
pid_t Hold(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, path.c_str(), O_RDONLY | O_NOCTTY, 0);
    const char* argv[] = {"sleep", "60", nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "sleep", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The real /proc: a pseudo-terminal of the virtual printer, held by another program, then free; without
// --probe nothing reaches the printer, with it the line, identity and status are found.
TEST_F(CliDoctorPrinters, APseudoTerminalHeldByAnotherProgramThenProbed) {
    auto sim = Sim("p");
    const std::string pty = sim->PtyPath();
    const pid_t holder = Hold(pty);
    ASSERT_GT(holder, 0);
    // The holder has its terminal open once its /proc shows it: waited for, 5 s at most.
    bool open = false;
    for (int i = 0; i < 500 && !open; ++i) {
        std::error_code ec;
        open = fs::read_symlink("/proc/" + std::to_string(holder) + "/fd/0", ec) == fs::path(pty);
        if (!open) ::usleep(10000);
    }
    ASSERT_TRUE(open) << "sleep did not open " << pty << " within 5 s";
    auto held = RunCli({"--json", "doctor", "-p", pty}, 20000);
    ::kill(holder, SIGTERM);
    ::waitpid(holder, nullptr, 0);
    ASSERT_EQ(held.exit, 1) << held.out << held.err;
    const Json one = Json::parse(held.out)[0];
    EXPECT_TRUE(Has(Finding(one, "kind")["text"], "pseudo-terminal")) << one;
    const Json holderFinding = Finding(one, "holder");
    EXPECT_EQ(holderFinding["severity"], "error");
    EXPECT_TRUE(Has(holderFinding["text"], "sleep (PID " + std::to_string(holder) + ")")) << holderFinding;
    EXPECT_TRUE(Has(Finding(one, "other-end")["text"], "pinwright-sim")) << "the printer's side is no rival";
    EXPECT_EQ(Finding(one, "line"), nullptr) << "no probe without --probe";
    auto free = RunCli({"doctor", "-p", pty}, 20000);
    EXPECT_EQ(free.exit, 0) << free.out << free.err;
    sim->Stop();
    EXPECT_EQ(sim->Stderr().find("<-"), std::string::npos) << "without --probe the printer hears nothing";

    auto other = Sim("q");
    auto probed = RunCli({"--json", "doctor", "--probe", "-p", other->PtyPath()}, 30000);
    ASSERT_EQ(probed.exit, 0) << probed.out << probed.err;
    const Json p = Json::parse(probed.out)[0];
    EXPECT_NE(Finding(p, "holder")["severity"], "error") << "info as a user who cannot see root's files";
    EXPECT_TRUE(Has(Finding(p, "line")["text"], "answers at 9600 8N1")) << p;
    EXPECT_TRUE(Has(Finding(p, "identity")["text"], "MERIDOX, LTX-580")) << p;
    EXPECT_EQ(Finding(p, "status")["severity"], "ok");

    other->Stop();
    const std::string log = other->Stderr();
    // The probe sent status queries and GS I, never ESC @.
    EXPECT_NE(log.find("10 04"), std::string::npos) << log;
    EXPECT_EQ(log.find("1b 40"), std::string::npos) << log;
    EXPECT_EQ(log.find("1B 40"), std::string::npos) << log;
}

// A client of the printer: connected and answered once, so that the printer serves it and not the next.
int ConnectAndAsk(const std::string& tcpName) {
    const std::string hostPort = tcpName.substr(6);
    const std::size_t colon = hostPort.rfind(':');
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(hostPort.substr(colon + 1))));
    ::inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &to.sin_addr);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return -1;
    const unsigned char query[] = {0x10, 0x04, 0x01};
    unsigned char reply = 0;
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::send(fd, query, sizeof query, 0) != 3 || ::recv(fd, &reply, 1, 0) != 1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST_F(CliDoctorPrinters, NetworkListenersSayWhyTheyAreNoUsablePrinter) {
    auto good = Sim("good", {}, Link::Network);
    auto busy = Sim("busy", {}, Link::Network);
    const int till = ConnectAndAsk(PortOf(*busy));
    ASSERT_GE(till, 0) << "the till's connection to " << PortOf(*busy);
    TestListener refusing;
    const std::string refused = refusing.Name();
    refusing.CloseListener();
    TestListener silent; // the kernel takes the connection; nothing ever answers
    const std::string goodByName = "tcp://localhost:" + PortOf(*good).substr(PortOf(*good).rfind(':') + 1);

    auto run = RunCli(
        {"--json", "doctor", "-p", goodByName, "-p", refused, "-p", silent.Name(), "-p", PortOf(*busy)},
        30000);
    ::close(till);
    ASSERT_EQ(run.exit, 1) << run.out << run.err;
    const Json all = Json::parse(run.out);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0]["in-the-way"], false) << all[0];
    EXPECT_TRUE(Has(Finding(all[0], "name")["text"], "resolves to 127.0.0.1")) << all[0];
    EXPECT_TRUE(Has(Finding(all[0], "identity")["text"], "MERIDOX")) << all[0];
    EXPECT_EQ(Finding(all[0], "status")["severity"], "ok");
    EXPECT_TRUE(Has(Finding(all[1], "connect")["text"], "refused the connection")) << all[1];
    EXPECT_EQ(Finding(all[2], "connect")["severity"], "ok");
    EXPECT_TRUE(Has(Finding(all[2], "answer")["text"], "said nothing within 800 ms")) << all[2];
    const Json b = Finding(all[3], "answer");
    EXPECT_TRUE(Has(b["text"], "The printer is busy")) << b;
    EXPECT_TRUE(Has(b["text"], "(PID " + std::to_string(::getpid()) + ")")) << "the till is this test";

    // A web server on the port, and a printer that turns a second client away at once.
    TestListener web;
    CliProcess asked({"doctor", "-p", web.Name()});
    ASSERT_TRUE(web.Accept(10000)) << "doctor did not connect within 10 s";
    EXPECT_EQ(web.Receive(3).size(), 3u) << "the status query";
    const std::string page = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    web.Send({page.begin(), page.end()});
    ASSERT_EQ(asked.Wait(20000), 1);
    EXPECT_NE(asked.Stdout().find("is a web server"), std::string::npos) << asked.Stdout();
    EXPECT_NE(asked.Stdout().find("$ pinwright-cli doctor -p tcp://127.0.0.1:9100"), std::string::npos);

    TestListener turning;
    CliProcess turned({"--json", "doctor", "-p", turning.Name()});
    ASSERT_TRUE(turning.Accept(10000)) << "doctor did not connect within 10 s";
    turning.CloseConnection();
    ASSERT_EQ(turned.Wait(20000), 1);
    EXPECT_TRUE(Has(Finding(Json::parse(turned.Stdout())[0], "answer")["text"], "closed it at once"))
        << turned.Stdout();
}

// A connection that is neither taken nor refused: a firewall that drops it. Bounded by the connect limit.
TEST_F(CliDoctorPrinters, AConnectionNeitherTakenNorRefusedTimesOut) {
    TestListener full(0);
    ASSERT_TRUE(full.FillQueue());
    auto run = RunCli({"--json", "doctor", "-p", full.Name()}, 30000);
    ASSERT_EQ(run.exit, 1) << run.out << run.err;
    const Json c = Finding(Json::parse(run.out)[0], "connect");
    EXPECT_TRUE(Has(c["text"], "firewall drops the connection")) << c;
    EXPECT_TRUE(Has(c["commands"][0], "ping -c 3 127.0.0.1")) << c;
}

} // namespace
