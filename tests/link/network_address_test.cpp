#include "link/network_address.h"

#include <gtest/gtest.h>

using namespace pw;

namespace {

struct Good {
    const char* name;
    const char* host;
    std::uint16_t port;
    const char* full;
};

TEST(NetworkAddress, ReadsHostsOfEveryKindWithThePortOrNineThousandOneHundred) {
    const Good table[] = {
        {"tcp://192.168.1.50", "192.168.1.50", 9100, "tcp://192.168.1.50:9100"},
        {"tcp://192.168.1.50:9101", "192.168.1.50", 9101, "tcp://192.168.1.50:9101"},
        {"tcp://10.0.0.7:1", "10.0.0.7", 1, "tcp://10.0.0.7:1"},
        {"tcp://10.0.0.7:65535", "10.0.0.7", 65535, "tcp://10.0.0.7:65535"},
        {"tcp://[::1]", "::1", 9100, "tcp://[::1]:9100"},
        {"tcp://[2001:db8::42]:6001", "2001:db8::42", 6001, "tcp://[2001:db8::42]:6001"},
        {"tcp://[fe80::1%eth0]:9100", "fe80::1%eth0", 9100, "tcp://[fe80::1%eth0]:9100"},
        {"tcp://[::ffff:192.168.1.9]", "::ffff:192.168.1.9", 9100, "tcp://[::ffff:192.168.1.9]:9100"},
        {"tcp://localhost", "localhost", 9100, "tcp://localhost:9100"},
        {"tcp://printer-3.shop.lan:9100", "printer-3.shop.lan", 9100, "tcp://printer-3.shop.lan:9100"},
        {"tcp://PRN_07", "PRN_07", 9100, "tcp://PRN_07:9100"},
        {"tcp://till2.", "till2.", 9100, "tcp://till2.:9100"},
    };
    for (const Good& g : table) {
        NetworkAddress a;
        std::string error;
        ASSERT_TRUE(ParseNetworkAddress(g.name, a, error)) << g.name << ": " << error;
        EXPECT_EQ(a.host, g.host) << g.name;
        EXPECT_EQ(a.port, g.port) << g.name;
        EXPECT_EQ(a.Name(), g.full) << g.name;
        EXPECT_TRUE(error.empty());
    }
}

struct Bad {
    const char* name;
    const char* said; // a part of the message
};

TEST(NetworkAddress, RefusesMalformedNamesSayingWhatIsWrong) {
    const Bad table[] = {
        {"tcp://", "no host"},
        {"tcp://:9100", "no host"},
        {"tcp://printer:", "port must be a number from 1 to 65535"},
        {"tcp://printer:0", "from 1 to 65535"},
        {"tcp://printer:65536", "from 1 to 65535"},
        {"tcp://printer:091000", "from 1 to 65535"},
        {"tcp://printer:+91", "from 1 to 65535"},
        {"tcp://printer:9100x", "from 1 to 65535"},
        {"tcp://fe80::1", "IPv6 address goes in brackets"},
        {"tcp://[fe80::1", "missing ']'"},
        {"tcp://[]:9100", "is not an IPv6 address"},
        {"tcp://[printer]:9100", "'printer' is not an IPv6 address"},
        {"tcp://[fe80::1%]:9100", "is not an IPv6 address"},
        {"tcp://[::1]9100", "unexpected '9100'"},
        {"tcp://printer/queue", "not a host name"},
        {"tcp://shop printer", "not a host name"},
        {"tcp://-printer", "not a host name"},
        {"tcp://a..b", "not a host name"},
        {"tcp://999.1.1.1", "not an IPv4 address"},
        {"tcp://1.2.3", "not an IPv4 address"},
        {"tcp://1.2.3.4.5:9100", "not an IPv4 address"},
        {"TCP://printer", "begins with tcp://"},
        {"printer:9100", "begins with tcp://"},
    };
    for (const Bad& b : table) {
        NetworkAddress a;
        a.host = "untouched";
        std::string error;
        EXPECT_FALSE(ParseNetworkAddress(b.name, a, error)) << b.name;
        EXPECT_NE(error.find(b.said), std::string::npos) << b.name << ": " << error;
        EXPECT_EQ(a.host, "untouched") << b.name << ": a refused name leaves the address as it was";
    }
    EXPECT_TRUE(IsNetworkName("tcp://printer:x")) << "meant as an address, even when malformed";
    EXPECT_FALSE(IsNetworkName("COM1"));
}

// Spellings some resolvers take for another address than the one every message would name.
TEST(NetworkAddress, AmbiguousIpv4SpellingsAreRefusedWithTheReason) {
    const Bad table[] = {
        {"tcp://192.168.001.050", "'192.168.001.050' has a number with a leading zero, which some systems "
                                  "read as octal: write 192.168.1.50"},
        {"tcp://127.0.0.010:9100", "write 127.0.0.10"},
        {"tcp://010.1.1.1", "write 10.1.1.1"},
        {"tcp://127.1", "'127.1' is not an IPv4 address: it needs four numbers separated by dots, not 2"},
        {"tcp://2130706433", "needs four numbers separated by dots, not 1"},
        {"tcp://0x7f.0.0.1", "'0x7f.0.0.1' has a hexadecimal part"},
        {"tcp://1.2.3.0x4", "has a hexadecimal part"},
        {"tcp://0X7F000001", "has a hexadecimal part"},
        {"tcp://printer.0x1f", "has a hexadecimal part"},
        {"tcp://1.2.3.4.", "is not an IPv4 address"},
        {"tcp://1.2.3.256", "each number is from 0 to 255"},
        {"tcp://1.2.3.0255", "leading zero"},
        {"tcp://1.2.3.0256", "each number is from 0 to 255"},
        {"tcp://till.5", "is not an IPv4 address"},
    };
    for (const Bad& b : table) {
        NetworkAddress a;
        std::string error;
        EXPECT_FALSE(ParseNetworkAddress(b.name, a, error)) << b.name;
        EXPECT_NE(error.find(b.said), std::string::npos) << b.name << ": " << error;
    }
    // Zeros that are the whole number, and names whose last label is not a number, are fine.
    for (const char* good :
         {"tcp://0.0.0.0", "tcp://10.0.0.0:9100", "tcp://100.64.0.1", "tcp://255.255.255.255",
          "tcp://1printer.lan", "tcp://till2.", "tcp://printer.0x1g", "tcp://a.5b"}) {
        NetworkAddress a;
        std::string error;
        EXPECT_TRUE(ParseNetworkAddress(good, a, error)) << good << ": " << error;
    }
    NetworkAddress a;
    std::string error;
    ASSERT_TRUE(ParseNetworkAddress("tcp://10.0.0.7", a, error));
    EXPECT_TRUE(a.numeric) << "an address is never handed to a name server";
    ASSERT_TRUE(ParseNetworkAddress("tcp://till7.shop.lan", a, error));
    EXPECT_FALSE(a.numeric);
}

// Two spellings of one IPv6 address give one name, so a printer given twice is seen as such.
TEST(NetworkAddress, IPv6AddressesTakeTheirCanonicalForm) {
    const std::pair<const char*, const char*> table[] = {
        {"tcp://[0:0:0:0:0:0:0:1]", "tcp://[::1]:9100"},
        {"tcp://[::0001]:9100", "tcp://[::1]:9100"},
        {"tcp://[2001:DB8:0:0:1:0:0:1]", "tcp://[2001:db8::1:0:0:1]:9100"},
        {"tcp://[2001:db8:0:0:0:0:2:1]", "tcp://[2001:db8::2:1]:9100"},
        {"tcp://[1:0:0:2:0:0:0:3]", "tcp://[1:0:0:2::3]:9100"},
        {"tcp://[2001:db8:0:1:1:1:1:1]", "tcp://[2001:db8:0:1:1:1:1:1]:9100"},
        {"tcp://[::]", "tcp://[::]:9100"},
        {"tcp://[1::]", "tcp://[1::]:9100"},
        {"tcp://[::ffff:c0a8:109]", "tcp://[::ffff:192.168.1.9]:9100"},
        {"tcp://[0:0:0:0:0:FFFF:192.168.1.9]:1", "tcp://[::ffff:192.168.1.9]:1"},
        {"tcp://[FE80::0:1%eth0]", "tcp://[fe80::1%eth0]:9100"},
    };
    for (const auto& [given, canonical] : table) {
        NetworkAddress a;
        std::string error;
        ASSERT_TRUE(ParseNetworkAddress(given, a, error)) << given << ": " << error;
        EXPECT_EQ(a.Name(), canonical) << given;
        EXPECT_TRUE(a.numeric) << given;
    }
    for (const char* bad : {"tcp://[1:2:3:4:5:6:7:8:9]", "tcp://[12345::]", "tcp://[::1:2:3:4:5:6:7:8]",
                            "tcp://[1::2::3]", "tcp://[::ffff:1.2.3.04]", "tcp://[1:2:3:4:5:6:7]",
                            "tcp://[:1::2]", "tcp://[1.2.3.4]", "tcp://[::g]"}) {
        NetworkAddress a;
        std::string error;
        EXPECT_FALSE(ParseNetworkAddress(bad, a, error)) << bad;
        EXPECT_NE(error.find("is not an IPv6 address"), std::string::npos) << bad << ": " << error;
    }
}

TEST(NetworkAddress, EveryConnectProblemNamesTheAddressWithItsPort) {
    for (ConnectFailure why : {ConnectFailure::HostNotFound, ConnectFailure::Refused,
                               ConnectFailure::TimedOut, ConnectFailure::LookupTimedOut,
                               ConnectFailure::Stopped, ConnectFailure::Unreachable, ConnectFailure::Other}) {
        const std::string text = ConnectProblem("tcp://10.0.0.7", why, "why not");
        EXPECT_NE(text.find("tcp://10.0.0.7:9100"), std::string::npos) << text;
    }
    EXPECT_NE(ConnectProblem("tcp://10.0.0.7", ConnectFailure::Refused).find("refused"), std::string::npos);
    EXPECT_NE(ConnectProblem("tcp://10.0.0.7", ConnectFailure::TimedOut).find("within 5 s"),
              std::string::npos);
    EXPECT_NE(ConnectProblem("tcp://till9.shop.lan", ConnectFailure::HostNotFound).find("'till9.shop.lan'"),
              std::string::npos);
    const std::string bad = ConnectProblem("tcp://[::1", ConnectFailure::BadName, "missing ']'");
    EXPECT_EQ(bad, "tcp://[::1 is not a network address: missing ']'.");
}

} // namespace
