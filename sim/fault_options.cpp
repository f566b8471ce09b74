#include "sim/fault_options.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

bool ParseHex(const std::string& text, Bytes& out) {
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        std::string pair = digits.substr(i, 2);
        long v = std::strtol(pair.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool ParseInt(const std::string& text, int& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 0 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseIntList(const std::string& text, std::vector<int>& out) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        int v = 0;
        if (!ParseInt(text.substr(start, comma - start), v)) return false;
        out.push_back(v);
        start = comma + 1;
    }
    return !out.empty();
}

bool ParseText(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        Bytes byte;
        if (i + 3 >= text.size() || text[i + 1] != 'x' || !ParseHex(text.substr(i + 2, 2), byte) ||
            byte[0] == 0)
            return false;
        out += static_cast<char>(byte[0]);
        i += 3;
    }
    return true;
}

// The faults a control file may change too: the status faults and silent.
Parsed ParseStatusFault(const std::string& name, const std::string& val, Faults& f) {
    static const std::pair<const char*, bool StatusFaults::*> kFlags[] = {
        {"drawer-open", &StatusFaults::drawerOpen},
        {"offline", &StatusFaults::offline},
        {"cover-open", &StatusFaults::coverOpen},
        {"feed-button", &StatusFaults::feedButton},
        {"paper-near-end", &StatusFaults::paperNearEnd},
        {"paper-out", &StatusFaults::paperOut},
        {"cutter-error", &StatusFaults::cutterError},
        {"unrecoverable-error", &StatusFaults::unrecoverableError},
        {"auto-recoverable-error", &StatusFaults::autoRecoverableError},
    };
    for (const auto& [flag, member] : kFlags) {
        if (name != flag) continue;
        if (!val.empty()) return Parsed::Bad;
        f.status.*member = true;
        return Parsed::Ok;
    }
    auto request = [](int n) { return n >= 1 && n <= 4; };
    if (name == "silent") {
        f.silent = true;
    } else if (name == "status-silent") {
        std::vector<int> which;
        if (!ParseIntList(val, which)) return Parsed::Bad;
        for (int n : which)
            if (!request(n)) return Parsed::Bad;
        f.status.silent.insert(f.status.silent.end(), which.begin(), which.end());
    } else if (name == "status-byte") {
        const std::size_t colon = val.find(':');
        int n = 0;
        Bytes reply;
        if (colon == std::string::npos || !ParseInt(val.substr(0, colon), n) || !request(n) ||
            !ParseHex(val.substr(colon + 1), reply) || reply.empty())
            return Parsed::Bad;
        f.status.replies[n] = reply;
    } else {
        return Parsed::Unknown;
    }
    return Parsed::Ok;
}

// One --fault NAME[=VALUE].
bool ParseFault(const std::string& given, Faults& f, int& trickleMs) {
    const auto eq = given.find('=');
    const std::string name = given.substr(0, eq), val = eq == std::string::npos ? "" : given.substr(eq + 1);
    if (const Parsed p = ParseStatusFault(name, val, f); p != Parsed::Unknown) return p == Parsed::Ok;
    if (name == "garbage")
        f.garbage = true;
    else if (name == "short")
        f.shortReplies = true;
    else if (name == "delay")
        return ParseInt(val, f.delayMs);
    else if (name == "stray")
        return ParseHex(val, f.stray) && !f.stray.empty();
    else if (name == "no-dot")
        return ParseInt(val, f.noDot);
    else if (name == "hangup-after")
        return ParseInt(val, f.hangupAfter);
    else if (name == "info-no-nul")
        f.infoNoNul = true;
    else if (name == "ignore-writes")
        f.ignoreWrites = true;
    else if (name == "info-silent")
        return ParseIntList(val, f.infoSilent);
    else if (name == "from")
        return ParseInt(val, f.from);
    else if (name == "trickle")
        return ParseInt(val, trickleMs) && trickleMs > 0;
    else
        return false;
    return true;
}

// A control file: the status faults and silent of each of `count` printers, into `out`.
bool ReadControl(const std::string& path, std::size_t count, std::vector<Faults>& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out.assign(count, Faults{});
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string where = path + ":" + std::to_string(lineNo) + ": ";
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::size_t first = 0, last = count; // the printers the line is for: [first, last)
        if (auto colon = line.find(':'); colon != std::string::npos) {
            std::istringstream number(line.substr(0, colon));
            int n = 0;
            std::string rest;
            if (!(number >> n) || (number >> rest) || n < 1 || static_cast<std::size_t>(n) > count) {
                error = where + "expected 'N:' with N from 1 to " + std::to_string(count);
                return false;
            }
            first = static_cast<std::size_t>(n) - 1;
            last = first + 1;
            line = line.substr(colon + 1);
        }
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const auto eq = word.find('=');
            const std::string name = word.substr(0, eq),
                              val = eq == std::string::npos ? "" : word.substr(eq + 1);
            for (std::size_t i = first; i < last; ++i) {
                const Parsed p = ParseStatusFault(name, val, out[i]);
                if (p == Parsed::Ok) continue;
                error = where + (p == Parsed::Bad ? "bad " : "no status fault: ") + word;
                return false;
            }
        }
    }
    return true;
}

} // namespace sim
