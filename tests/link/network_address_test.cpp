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

TEST(NetworkAddress, EveryConnectProblemNamesTheAddressWithItsPort) {
    for (ConnectFailure why :
         {ConnectFailure::HostNotFound, ConnectFailure::Refused, ConnectFailure::TimedOut,
          ConnectFailure::Unreachable, ConnectFailure::Other}) {
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
