// pinwright-cli's command line, case by case.
#include "cli/options.h"
#include "cli/platform.h"
#include "pinwright_version.h"

#include <gtest/gtest.h>

using namespace pw::cli;

namespace {

struct Case {
    std::vector<std::string> args;
    int exit;            // -1: parsed, goes on
    std::string message; // part of the usage error or the printed text
};

TEST(CliOptions, UsageErrorsAndEarlyEnds) {
    const std::vector<Case> cases = {
        {{}, 1, "A subcommand is required"},
        {{"--help"}, 0, "code-page PC437|Katakana|PC850"},
        {{"--version"}, 0, std::string("pinwright-cli ") + PINWRIGHT_VERSION + "\n"},
        {{"get"}, 1, "no port: give one or more with --port"},
        {{"-p", "COM8", "get"}, 1, "unknown port 'COM8'"},
        {{"-p", "LPT5", "get"}, 1, "unknown port 'LPT5'"},
        {{"-p", "USB1", "get"}, 1, "unknown port 'USB1'"},
        {{"-p", "COM1", "-p", "com1", "get"}, 1, "port COM1 given twice"},
        {{"-p", "USB", "-p", "usb", "check"}, 1, "port USB given twice"},
        {{"-p", "tcp://[::1", "check"}, 1, "bad network address 'tcp://[::1': missing ']'"},
        {{"-p", "tcp://till1:99999", "check"}, 1, "the port must be a number from 1 to 65535"},
        {{"-p", "tcp://10.0.0.7", "-p", "TCP://10.0.0.7:9100", "check"},
         1,
         "port tcp://10.0.0.7:9100 given twice"},
        {{"-p", "udp://10.0.0.7", "check"}, 1, "unknown port 'udp://10.0.0.7'"},
        {{"-p", "tcp://192.168.001.050", "check"},
         1,
         "bad network address 'tcp://192.168.001.050': '192.168.001.050' has a number with a leading zero, "
         "which some systems read as octal: write 192.168.1.50"},
        {{"-p", "tcp://127.1", "check"}, 1, "it needs four numbers separated by dots, not 2"},
        {{"-p", "tcp://0x7f.0.0.1", "check"}, 1, "has a hexadecimal part"},
        {{"-p", "tcp://[::1]", "-p", "tcp://[0:0:0:0:0:0:0:0001]:9100", "check"},
         1,
         "port tcp://[::1]:9100 given twice"},
        {{"-p", "tcp://Till1.Shop.Lan", "-p", "tcp://till1.shop.lan:9100", "check"},
         1,
         "port tcp://till1.shop.lan:9100 given twice (as tcp://Till1.Shop.Lan:9100)"},
        {{"-p", "COM1\x1b[2J", "check"}, 1, "unknown port 'COM1\\x1b[2J'"},
        {{"-p", "COM1", "--baud", "4800", "get"}, 1, "--baud"},
        {{"-p", "COM1", "--parity", "mark", "get"}, 1, "--parity"},
        {{"-p", "COM1", "--stop-bits", "3", "get"}, 1, "--stop-bits"},
        {{"-p", "COM1", "--data-bits", "6", "get"}, 1, "--data-bits"},
        {{"-p", "COM1", "self-test", "3"}, 1, "PAGE"},
        {{"-p", "COM1", "set"}, 1, "KEY=VALUE is required"},
        {{"-p", "COM1", "set", "baud-rate"}, 1, "'baud-rate' is not KEY=VALUE"},
        {{"-p", "COM1", "set", "parity=mark"}, 1, "'mark' is no value of parity (one of none odd even)"},
        {{"-p", "COM1", "set", "parity=odd", "parity=even"}, 1, "parity given twice"},
        {{"-p", "COM1", "apply"}, 1, "FILE.sts is required"},
        {{"-p", "COM1", "show", "x.sts"}, 1, "show reads a file only"},
        {{"-p", "COM1", "get", "extra"}, 1, "extra"},
        {{"-p", "COM1", "-p", "COM2", "get", "-o", "x.sts"}, 1, "get -o saves one printer's settings"},
        {{"-p", "COM1", "check", "get"}, 1, ""},
        {{"-p", "COM1", "ports"}, 1, "ports lists every port of the dialogs: it takes no --port"},
        {{"ports", "extra"}, 1, "extra"},
    };
    for (const Case& c : cases) {
        Options o;
        const ParseOutcome r = ParseArguments(c.args, o);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(r.exit, c.exit) << joined << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << joined << "\n" << r.out << r.err;
        if (c.exit == 1) {
            EXPECT_EQ(r.out, "") << joined;
        }
    }
}

TEST(CliOptions, PortsLineSettingsAndCommands) {
    Options o;
    ASSERT_EQ(ParseArguments({"-p",
                              "com3",
                              "--port",
                              "lpt2",
                              "-p",
                              "Usb",
                              "--baud",
                              "115200",
                              "--parity",
                              "even",
                              "--stop-bits",
                              "1.5",
                              "--data-bits",
                              "7",
                              "--json",
                              "--trace",
                              "t.log",
                              "set",
                              "baud-rate=19200",
                              "code-page=wpc1252",
                              "auto-line-feed=on"},
                             o)
                  .exit,
              -1);
    EXPECT_EQ(o.ports, (std::vector<std::string>{"COM3", "LPT2", "USB"})) << "in the order given";
    EXPECT_EQ(o.line, (LineOptions{115200, 7, 2, 1}));
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.trace, "t.log");
    EXPECT_EQ(o.command, Command::Set);
    ASSERT_EQ(o.changes.size(), 3u);
    EXPECT_STREQ(o.changes[0].key->key, "baud-rate");
    EXPECT_EQ(o.changes[0].index, 1);
    EXPECT_EQ(o.changes[1].index, 6) << "WPC1252 is the seventh code page";
    EXPECT_EQ(o.changes[2].index, 1);

    Options d;
    ASSERT_EQ(ParseArguments({"get", "-p", "LPT4", "-o", "x.sts"}, d).exit, -1)
        << "options may follow the command";
    EXPECT_EQ(d.line, (LineOptions{9600, 8, 0, 0})) << "the communication dialog's defaults";
    EXPECT_EQ(d.command, Command::Get);
    EXPECT_EQ(d.output, "x.sts");
    EXPECT_EQ(d.ports, std::vector<std::string>{"LPT4"});

    Options n;
    ASSERT_EQ(ParseArguments({"-p", "tcp://10.0.0.7", "-p", "TCP://[fe80::1]:6001", "-p",
                              "tcp://till-3.shop.lan:9100", "apply", "shop.sts"},
                             n)
                  .exit,
              -1);
    EXPECT_EQ(n.ports, (std::vector<std::string>{"tcp://10.0.0.7:9100", "tcp://[fe80::1]:6001",
                                                 "tcp://till-3.shop.lan:9100"}))
        << "network printers named in full, port included";
    for (const std::string& port : n.ports) EXPECT_FALSE(IsDevicePath(port)) << port;

    Options s;
    ASSERT_EQ(ParseArguments({"-p", "COM1", "self-test", "2"}, s).exit, -1);
    EXPECT_EQ(s.command, Command::SelfTest);
    EXPECT_EQ(s.selfTest, 2);
    Options f;
    ASSERT_EQ(ParseArguments({"--json", "show", "a.sts"}, f).exit, -1);
    EXPECT_EQ(f.command, Command::Show);
    EXPECT_EQ(f.file, "a.sts");
    Options p;
    ASSERT_EQ(ParseArguments({"ports", "--json"}, p).exit, -1);
    EXPECT_EQ(p.command, Command::Ports);
    EXPECT_TRUE(p.json);
}

} // namespace
