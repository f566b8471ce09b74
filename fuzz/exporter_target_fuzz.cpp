// Targets as a scrape may spell them: the exporter's allow list never lets one through that would reach
// anything but what the list names, whatever the spelling; an allow entry of any bytes never crashes.
#include "exporter/target_policy.h"
#include "fuzz/fuzz_check.h"
#include "link/network_address.h"

#include <algorithm>
#include <cctype>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw;
    using namespace pw::exporter;
    const std::string given(reinterpret_cast<const char*>(data), size);
    static const std::vector<AllowEntry> allow = [] {
        std::vector<AllowEntry> list;
        for (const char* text :
             {"10.0.0.0/24", "10.0.1.5:9101", "[fd00::]/64", "printer.lan", "/dev/ttyUSB0", "COM3"}) {
            AllowEntry e;
            std::string error;
            FUZZ_CHECK(ParseAllowEntry(text, e, error));
            list.push_back(e);
        }
        return list;
    }();
    AllowEntry entry;
    std::string error;
    if (!ParseAllowEntry(given, entry, error)) FUZZ_CHECK(!error.empty());

    for (const std::string& target : {given, std::string(kNetworkPrefix) + given}) {
        const TargetDecision d = CheckTarget(allow, target);
        if (!d.allowed) {
            FUZZ_CHECK(!d.reason.empty());
            continue;
        }
        // The exchange is made with the key: one allowed as itself.
        const TargetDecision again = CheckTarget(allow, d.key);
        FUZZ_CHECK(again.allowed && again.key == d.key);
        FUZZ_CHECK(IsNetworkName(d.key) == IsNetworkName(target));
        if (!IsNetworkName(target)) {
            FUZZ_CHECK(d.key == "/dev/ttyUSB0" || d.key == "COM3");
            std::string lower = target;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            FUZZ_CHECK(target == "/dev/ttyUSB0" || lower == "com3");
            continue;
        }
        // The connection goes where the parsed address says: it must be one the list names.
        NetworkAddress a, asked;
        FUZZ_CHECK(ParseNetworkAddress(d.key, a, error));
        FUZZ_CHECK(ParseNetworkAddress(target, asked, error) && asked.port == a.port &&
                   asked.numeric == a.numeric);
        const std::string name = a.Name();
        const bool inNet = a.numeric && !a.bracketed && a.port == 9100 && name.rfind("tcp://10.0.0.", 0) == 0;
        const bool inV6 = a.numeric && a.bracketed && a.port == 9100 && name.rfind("tcp://[fd00:", 0) == 0 &&
                          a.host.find('%') == std::string::npos;
        std::string host = a.host;
        std::transform(host.begin(), host.end(), host.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const bool named = !a.numeric && a.port == 9100 && (host == "printer.lan" || host == "printer.lan.");
        FUZZ_CHECK(inNet || inV6 || named || name == "tcp://10.0.1.5:9101");
    }
    return 0;
}
