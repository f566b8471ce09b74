// discover's TARGETs by the address rules of -p, expanded to the addresses swept, and what it prints of
// the printers it found: the table, the JSON and the Ansible inventory, with the printers' texts hostile.
#include "cli/discover.h"
#include "cli/discover_output.h"
#include "cli/options.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::cli;

namespace {

Targets Read(const std::vector<std::string>& given) {
    Targets t;
    for (const std::string& target : given) {
        std::string error;
        EXPECT_TRUE(AddTarget(target, t, error)) << target << ": " << error;
    }
    return t;
}

std::vector<std::string> All(const AddressSet& set) {
    std::vector<std::string> out;
    for (std::uint64_t i = 0; i < set.Count(); ++i) out.push_back(set.At(i));
    return out;
}

std::string Refused(const std::string& target) {
    Targets t;
    std::string error;
    EXPECT_FALSE(AddTarget(target, t, error)) << target << " was taken";
    EXPECT_EQ(t.addresses.Count(), 0u) << target;
    EXPECT_TRUE(t.names.empty()) << target;
    return error;
}

TEST(DiscoverTargets, NetworksLeaveOutTheirNetworkAndBroadcastAddressesUpToSlash30) {
    struct Network {
        std::string target;
        std::uint64_t count;
        std::string first, last;
    };
    const Network networks[] = {
        {"192.168.1.0/24", 254, "192.168.1.1", "192.168.1.254"},
        {"192.168.1.77/24", 254, "192.168.1.1", "192.168.1.254"}, // the host part is not the network's
        {"10.20.0.0/16", 65534, "10.20.0.1", "10.20.255.254"},
        {"127.0.0.32/28", 14, "127.0.0.33", "127.0.0.46"},
        {"10.0.0.4/30", 2, "10.0.0.5", "10.0.0.6"},
        {"10.0.0.4/31", 2, "10.0.0.4", "10.0.0.5"}, // a point-to-point link: both are hosts
        {"10.0.0.9/32", 1, "10.0.0.9", "10.0.0.9"},
        {"0.0.0.0/0", 4294967294u, "0.0.0.1", "255.255.255.254"},
        {"255.255.255.255/32", 1, "255.255.255.255", "255.255.255.255"},
    };
    for (const Network& n : networks) {
        const Targets t = Read({n.target});
        ASSERT_EQ(t.addresses.Count(), n.count) << n.target;
        EXPECT_EQ(t.addresses.At(0), n.first) << n.target;
        EXPECT_EQ(t.addresses.At(n.count - 1), n.last) << n.target;
    }
    EXPECT_EQ(All(Read({"10.0.0.8/29"}).addresses),
              (std::vector<std::string>{"10.0.0.9", "10.0.0.10", "10.0.0.11", "10.0.0.12", "10.0.0.13",
                                        "10.0.0.14"}));
}

TEST(DiscoverTargets, ARangeRunsItsLastPartFromTheFirstNumberToTheOneAfterTheDash) {
    EXPECT_EQ(All(Read({"192.168.1.20-23"}).addresses),
              (std::vector<std::string>{"192.168.1.20", "192.168.1.21", "192.168.1.22", "192.168.1.23"}));
    const Targets whole = Read({"192.168.1.0-255"});
    EXPECT_EQ(whole.addresses.Count(), 256u) << "a range is taken as written, .0 and .255 too";
    EXPECT_EQ(All(Read({"10.0.0.7-7"}).addresses), (std::vector<std::string>{"10.0.0.7"}));
    EXPECT_EQ(Refused("192.168.1.20-10"), "the range ends at 10, before it starts at 20");
    EXPECT_NE(Refused("192.168.1.20-256").find("a number from 0 to 255"), std::string::npos);
    EXPECT_NE(Refused("192.168.1.20-192.168.1.30").find("as in 192.168.1.20-60"), std::string::npos);
    EXPECT_NE(Refused("192.168.1.20-030").find("not '030'"), std::string::npos);
}

TEST(DiscoverTargets, EveryAddressIsSweptOnceInAddressOrderWhateverTheTargetsAndTheirOrder) {
    const Targets t = Read({"10.0.0.12", "fd00::2", "10.0.0.8/29", "10.0.0.3-5", "[FD00:0::1]", "10.0.0.4",
                            "10.0.0.6", "fd00::2", "9.255.255.255"});
    EXPECT_EQ(All(t.addresses),
              (std::vector<std::string>{"9.255.255.255", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6",
                                        "10.0.0.9", "10.0.0.10", "10.0.0.11", "10.0.0.12", "10.0.0.13",
                                        "10.0.0.14", "fd00::1", "fd00::2"}));
    EXPECT_FALSE(t.addresses.IsIpv6(0));
    EXPECT_FALSE(t.addresses.IsIpv6(10));
    EXPECT_TRUE(t.addresses.IsIpv6(11));
    // IPv6 by number, not by text: fd00::10 comes after fd00::9.
    EXPECT_EQ(All(Read({"fd00::10", "fd00::9", "::1", "fe80::1%eth0", "fe80::1"}).addresses),
              (std::vector<std::string>{"::1", "fd00::9", "fd00::10", "fe80::1", "fe80::1%eth0"}));
    // What a name lookup adds joins in order, once.
    Targets named = Read({"10.0.0.4-6"});
    EXPECT_TRUE(named.addresses.AddNumeric("10.0.0.5"));
    EXPECT_TRUE(named.addresses.AddNumeric("10.0.0.1"));
    EXPECT_TRUE(named.addresses.AddNumeric("0:0::1"));
    EXPECT_FALSE(named.addresses.AddNumeric("10.0.0.01"));
    EXPECT_EQ(All(named.addresses),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.4", "10.0.0.5", "10.0.0.6", "::1"}));
}

TEST(DiscoverTargets, HostNamesAreKeptForTheLookupOnceWhateverTheirLetterCase) {
    const Targets t = Read({"till3.shop.lan", "Till3.Shop.LAN", "printer-2", "till-1.shop.lan", "10.0.0.1"});
    EXPECT_EQ(t.names, (std::vector<std::string>{"till3.shop.lan", "printer-2", "till-1.shop.lan"}));
    EXPECT_EQ(t.addresses.Count(), 1u);
}

TEST(DiscoverTargets, AMalformedTargetIsRefusedWithItsReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"192.168.001.5",
         "has a number with a leading zero, which some systems read as octal: write 192.168.1.5"},
        {"192.168.001.0/24", "leading zero"},
        {"0x7f.0.0.1", "has a hexadecimal part"},
        {"0x7f.0.0.1-5", "has a hexadecimal part"},
        {"127.1", "it needs four numbers separated by dots, not 2"},
        {"127.0.0.256", "each number is from 0 to 255"},
        {"10.0.0.0/33", "the prefix after '/' is a number from 0 to 32, not '33'"},
        {"10.0.0.0/024", "not '024'"},
        {"10.0.0.0/", "not ''"},
        {"10.0.0.0/x", "not 'x'"},
        // Numbers of any length: none is cut to fit a machine word (4294967328 would be 32), none ends the
        // program.
        {"10.0.0.0/99999999999999999999", "a number from 0 to 32, not '99999999999999999999'"},
        {"10.0.0.0/4294967328", "a number from 0 to 32, not '4294967328'"},
        {"10.0.0.1-99999999999999999999", "a range ends at a number from 0 to 255"},
        {"10.0.0.1-4294967306", "a range ends at a number from 0 to 255"},
        {"till.lan/24", "is not an IPv4 address"},
        {"fd00::/64", "an IPv6 network is too large to sweep"},
        {"tcp://10.0.0.1", "without tcp://"},
        {"TCP://10.0.0.1", "without tcp://"},
        {"10.0.0.1:9100", "a TARGET has no port"},
        {"till3:9100", "a TARGET has no port"},
        {"[fd00::1]:9100", "a TARGET has no port"},
        {"[fd00::1", "missing ']'"},
        {"fd00:::1", "is not an IPv6 address"},
        {"bad_host!", "is not a host name or address"},
        {"-60", "is not a host name or address"},
        {"", "it is empty"},
    };
    for (const auto& [target, reason] : cases)
        EXPECT_NE(Refused(target).find(reason), std::string::npos) << target << ": " << Refused(target);
}

ParseOutcome Parse(std::vector<std::string> args, Options& o) {
    return ParseArguments(args, o);
}

TEST(DiscoverOptions, DefaultsAndEveryOption) {
    Options o;
    ASSERT_EQ(Parse({"discover", "10.0.0.0/24"}, o).exit, -1);
    EXPECT_EQ(o.command, Command::Discover);
    EXPECT_EQ(o.discover.port, 9100);
    EXPECT_EQ(o.discover.connections, 64);
    EXPECT_EQ(o.discover.connectTimeout, 1.0);
    EXPECT_EQ(o.discover.maxAddresses, 4096u);
    EXPECT_FALSE(o.discover.all || o.discover.inventory);
    EXPECT_EQ(o.discover.parsed.addresses.Count(), 254u);

    Options p;
    ASSERT_EQ(Parse({"--json", "discover", "--port", "9101", "--connections", "8", "--connect-timeout",
                     "0.25", "--all", "--max-addresses", "70000", "10.0.0.0/16", "till3"},
                    p)
                  .exit,
              -1);
    EXPECT_TRUE(p.json && p.discover.all);
    EXPECT_EQ(p.discover.port, 9101);
    EXPECT_EQ(p.discover.connections, 8);
    EXPECT_EQ(p.discover.connectTimeout, 0.25);
    EXPECT_EQ(p.discover.maxAddresses, 70000u);
    EXPECT_EQ(p.discover.parsed.addresses.Count(), 65534u);
    EXPECT_EQ(p.discover.parsed.names, (std::vector<std::string>{"till3"}));
}

TEST(DiscoverOptions, MoreThan4096AddressesNeedMaxAddressesAndOtherUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"discover", "10.0.0.0/19"},
         "the TARGETs make 8190 addresses, more than the 4096 of one run: give --max-addresses 8190 to sweep "
         "them all (sweep only networks you manage)"},
        {{"discover", "0.0.0.0/0"}, "the TARGETs make 4294967294 addresses"},
        // Counted once each: 10.0.0.0/20 and the range inside it are 4094, the /24 beside it 254 more.
        {{"discover", "10.0.0.0/20", "10.0.1.5-9", "10.0.16.0/24"}, "make 4348 addresses"},
        {{"discover", "--max-addresses", "13", "127.0.0.32/28"}, "make 14 addresses, more than the 13"},
        {{"discover"}, "TARGET is required"},
        {{"discover", "10.0.0.300"}, "bad TARGET '10.0.0.300': '10.0.0.300' is not an IPv4 address"},
        {{"discover", "10.0.0.0/99999999999999999999"}, "bad TARGET '10.0.0.0/99999999999999999999'"},
        {{"discover", "10.0.0.0/4294967328"}, "bad TARGET '10.0.0.0/4294967328'"},
        {{"discover", "--port", "0", "10.0.0.1"}, "--port"},
        {{"discover", "--port", "65536", "10.0.0.1"}, "--port"},
        {{"discover", "--connections", "0", "10.0.0.1"}, "--connections"},
        {{"discover", "--connections", "257", "10.0.0.1"}, "--connections"},
        {{"discover", "--connect-timeout", "0.05", "10.0.0.1"}, "--connect-timeout"},
        {{"discover", "--connect-timeout", "61", "10.0.0.1"}, "--connect-timeout"},
        {{"discover", "--max-addresses", "0", "10.0.0.1"}, "--max-addresses"},
        {{"--json", "discover", "--inventory", "10.0.0.1"}, "--inventory writes YAML and --json JSON"},
        {{"-p", "tcp://10.0.0.1", "discover", "10.0.0.1"}, "it takes TARGETs, not -p PORT"},
        {{"--check", "discover", "10.0.0.1"}, "discover only reads, so it has nothing to check"},
    };
    for (const Case& c : cases) {
        Options o;
        const ParseOutcome r = Parse(c.args, o);
        EXPECT_EQ(r.exit, 1) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    Options allowed;
    EXPECT_EQ(Parse({"discover", "--max-addresses", "8190", "10.0.0.0/19"}, allowed).exit, -1);
    Options exactly;
    EXPECT_EQ(Parse({"discover", "10.0.0.0/20", "10.0.16.1-2"}, exactly).exit, -1) << "4096 is allowed";
}

PrinterProbe Printer(std::array<std::uint8_t, 4> status, std::optional<std::string> maker = "MERIDOX") {
    PrinterProbe p;
    p.printer = true;
    p.firmware = "2.10";
    p.maker = maker;
    p.model = "LTX-580";
    p.status.result = StatusRead::Ok;
    p.status.replies = status;
    EXPECT_TRUE(DecodeRealTimeStatus(status, p.status.status));
    return p;
}

TEST(DiscoverOutput, TheTableEscapesThePrintersTextsAndListsWhatIsNoPrinterAsSuch) {
    PrinterProbe hostile = Printer({0x12, 0x16, 0x12, 0x72}, "EVIL\x1b]0;owned\x07");
    hostile.model = "Caf\xc3\xa9"; // two bytes, one column
    hostile.firmware = std::nullopt;
    PrinterProbe silent;
    silent.notPrinter = "no answer to DLE EOT 1 within 800 ms";
    PrinterProbe unreadable = Printer({0x12, 0x12, 0x12, 0x12});
    unreadable.status.result = StatusRead::NoAnswer;
    unreadable.status.query = 3;
    const std::string table =
        DiscoveredTable({{"10.0.0.5", "tcp://10.0.0.5:9100", Printer({0x16, 0x12, 0x12, 0x12})},
                         {"10.0.0.7", "tcp://10.0.0.7:9100", hostile},
                         {"10.0.0.9", "tcp://10.0.0.9:9100", silent},
                         {"fd00::50", "tcp://[fd00::50]:9100", unreadable}});
    EXPECT_EQ(
        table,
        "ADDRESS   MAKER                 MODEL    FIRMWARE  STATUS\n"
        "10.0.0.5  MERIDOX               LTX-580  2.10      ok\n"
        "10.0.0.7  EVIL\\x1b]0;owned\\x07  Caf\xc3\xa9     -         needs attention: cover open, paper out\n"
        "10.0.0.9  -                     -        -         not a printer\n"
        "fd00::50  MERIDOX               LTX-580  2.10      status unreadable: the printer did not "
        "answer DLE EOT 3\n");
    EXPECT_EQ(DiscoveredTable({}), "ADDRESS  MAKER  MODEL  FIRMWARE  STATUS\n");
}

TEST(DiscoverOutput, JsonGivesThePortAsMinusPTakesItAndNullForWhatWasNotSaid) {
    PrinterProbe mute = Printer({0x12, 0x12, 0x12, 0x1E}, std::nullopt);
    PrinterProbe web;
    web.notPrinter = "DLE EOT 1 was answered with 48 54 54 50 2F 31 2E 31 ..., not with one status byte";
    PrinterProbe unreadable = Printer({0x12, 0x12, 0x12, 0x12});
    unreadable.status.result = StatusRead::BadReply;
    unreadable.status.query = 2;
    unreadable.status.badByte = 0x00;
    const nlohmann::json j =
        nlohmann::json::parse(DiscoveredJson({{"10.0.0.5", "tcp://10.0.0.5:9100", mute},
                                              {"10.0.0.6", "tcp://10.0.0.6:9100", web},
                                              {"fd00::50", "tcp://[fd00::50]:9100", unreadable}}));
    EXPECT_EQ(j, nlohmann::json::parse(R"([
      {"port": "tcp://10.0.0.5:9100", "address": "10.0.0.5", "printer": true, "maker": null,
       "model": "LTX-580", "firmware": "2.10",
       "status": {"online": true, "cover-open": false, "paper": "near-end", "feed-button": false,
                  "drawer-open": false, "errors": []}},
      {"port": "tcp://10.0.0.6:9100", "address": "10.0.0.6", "printer": false, "maker": null, "model": null,
       "firmware": null, "status": null,
       "error": "not a printer: DLE EOT 1 was answered with 48 54 54 50 2F 31 2E 31 ..., not with one status byte"},
      {"port": "tcp://[fd00::50]:9100", "address": "fd00::50", "printer": true, "maker": "MERIDOX",
       "model": "LTX-580", "firmware": "2.10", "status": null,
       "error": "the printer answered DLE EOT 2 with 0x00, which is no status byte"}
    ])"));
    EXPECT_EQ(DiscoveredJson({}), "[]\n");
}

TEST(DiscoverOutput, TheInventoryHoldsThePrintersOnlyTheirTextsQuotedForYamlAndUnsafeForAnsible) {
    PrinterProbe odd = Printer({0x12, 0x12, 0x12, 0x12}, "A \"B\" \\ C: #d\n");
    odd.model = std::nullopt;
    PrinterProbe web;
    EXPECT_EQ(DiscoveredInventory({{"10.0.0.5", "tcp://10.0.0.5:9100", Printer({0x16, 0x12, 0x12, 0x12})},
                                   {"10.0.0.6", "tcp://10.0.0.6:9100", web},
                                   {"fd00::50", "tcp://[fd00::50]:9100", odd}}),
              "all:\n"
              "  children:\n"
              "    receipt_printers:\n"
              "      hosts:\n"
              "        \"10.0.0.5\":\n"
              "          printer_port: \"tcp://10.0.0.5:9100\"\n"
              "          printer_maker: !unsafe \"MERIDOX\"\n"
              "          printer_model: !unsafe \"LTX-580\"\n"
              "        \"fd00::50\":\n"
              "          printer_port: \"tcp://[fd00::50]:9100\"\n"
              "          printer_maker: !unsafe \"A \\\"B\\\" \\\\ C: #d\\n\"\n"
              "          printer_model: null\n");
    EXPECT_EQ(DiscoveredInventory({{"10.0.0.6", "tcp://10.0.0.6:9100", web}}),
              "all:\n  children:\n    receipt_printers:\n      hosts: {}\n");
}

TEST(DiscoverOutput, YamlQuotingIsAsciiAndWritesWhatLiesBeyondTheBasicPlaneAsOneEscape) {
    EXPECT_EQ(YamlQuoted("plain"), "\"plain\"");
    EXPECT_EQ(YamlQuoted("\x1b[2J\x7f\xc2\x85"), "\"\\u001b[2J\\u007f\\u0085\"");
    EXPECT_EQ(YamlQuoted("\xf0\x9f\x96\xa8 \xe2\x80\xae"), "\"\\U0001F5A8 \\u202e\"");
    EXPECT_EQ(YamlQuoted("\xff"), "\"\\ufffd\"") << "a byte that is not UTF-8";
    EXPECT_EQ(YamlQuoted("\\ud83d\\ude00"), "\"\\\\ud83d\\\\ude00\"")
        << "a text that only looks like escapes";
}

} // namespace
