// Network addresses as a user may type them: the parser never crashes, and what it takes has one spelling
// that reads back as itself.
#include "fuzz/fuzz_check.h"
#include "link/network_address.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw;
    const std::string given(reinterpret_cast<const char*>(data), size);
    for (const std::string& name : {given, std::string(kNetworkPrefix) + given}) {
        NetworkAddress a;
        std::string error;
        if (!ParseNetworkAddress(name, a, error)) {
            FUZZ_CHECK(!error.empty());
            continue;
        }
        FUZZ_CHECK(error.empty() && !a.host.empty() && a.port >= 1);
        NetworkAddress again;
        FUZZ_CHECK(ParseNetworkAddress(a.Name(), again, error));
        FUZZ_CHECK(again.Name() == a.Name() && again.numeric == a.numeric);
        // A dotted address that was taken is four plain decimal numbers.
        if (a.numeric && !a.bracketed) {
            int dots = 0;
            for (char c : a.host) dots += c == '.';
            FUZZ_CHECK(dots == 3 && a.host.find("..") == std::string::npos);
        }
        for (ConnectFailure why : {ConnectFailure::HostNotFound, ConnectFailure::LookupTimedOut,
                                   ConnectFailure::Stopped, ConnectFailure::Other})
            FUZZ_CHECK(ConnectProblem(name, why, given).find(a.Name()) != std::string::npos);
    }
    return 0;
}
