// pinwright-cli's command line from arbitrary arguments (NUL separates them): parsing never crashes or
// throws, a usage message never carries a raw control byte, and what is taken is sound: set assignments
// name each key once with a listed value, ports are known and given once.
#include "cli/options.h"
#include "fuzz/fuzz_check.h"

#include <set>

namespace {
bool Shown(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw::cli;
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    Options o;
    const ParseOutcome r = ParseArguments(args, o);
    FUZZ_CHECK(r.exit == -1 || r.exit == 0 || r.exit == 1);
    FUZZ_CHECK(Shown(r.err));
    if (r.exit != -1) return 0;
    std::set<const SettingKey*> keys;
    for (const Assignment& a : o.changes) {
        FUZZ_CHECK(keys.insert(a.key).second);
        FUZZ_CHECK(a.index >= 0 && a.index < static_cast<int>(a.key->values.size()));
    }
    std::set<std::string> ports(o.ports.begin(), o.ports.end());
    FUZZ_CHECK(ports.size() == o.ports.size());
    if (o.command != Command::Show && o.command != Command::Ports) FUZZ_CHECK(!o.ports.empty());
    for (const std::string& a : args) {
        std::string error;
        if (auto parsed = ParseAssignment(a, error)) FUZZ_CHECK(parsed->index >= 0);
    }
    return 0;
}
