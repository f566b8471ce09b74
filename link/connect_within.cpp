#include "link/connect_within.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace pw {

namespace {

// A stop or the end of the lookup is looked for this often.
constexpr std::uint32_t kLookSliceMs = 10;

// What the lookup's thread hands back; shared, since that thread may outlive the connect that asked.
struct Lookup {
    std::mutex mutex;
    bool done = false;
    bool ok = false;
    std::vector<ResolvedAddress> found;
    ConnectFailure why = ConnectFailure::Other;
    std::string detail;
};

} // namespace

bool ConnectSteps::StartLookup(std::function<void()> lookup) {
    try {
        std::thread(std::move(lookup)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

std::intptr_t ConnectWithin(ConnectSteps& steps, const Resolver& resolve, const NetworkAddress& address,
                            std::uint32_t limitMs, ConnectFailure& why, std::string& detail) {
    const std::uint64_t deadline = steps.NowMs() + limitMs;
    auto lookup = std::make_shared<Lookup>();
    const bool started = steps.StartLookup([lookup, resolve, address] {
        std::vector<ResolvedAddress> found;
        ConnectFailure failure = ConnectFailure::Other;
        std::string words;
        const bool ok = resolve(address, found, failure, words);
        std::lock_guard lock(lookup->mutex);
        lookup->ok = ok;
        lookup->found = std::move(found);
        lookup->why = failure;
        lookup->detail = std::move(words);
        lookup->done = true;
    });
    if (!started) {
        why = ConnectFailure::Other;
        detail = "no thread could be started for the name lookup";
        return -1;
    }
    for (;;) {
        {
            std::lock_guard lock(lookup->mutex);
            if (lookup->done) break;
        }
        if (steps.Stopped()) {
            why = ConnectFailure::Stopped;
            return -1;
        }
        const std::uint64_t now = steps.NowMs();
        if (now >= deadline) {
            why = ConnectFailure::LookupTimedOut;
            return -1;
        }
        steps.Sleep(static_cast<std::uint32_t>(std::min<std::uint64_t>(kLookSliceMs, deadline - now)));
    }
    std::vector<ResolvedAddress> found;
    {
        std::lock_guard lock(lookup->mutex);
        if (!lookup->ok) {
            why = lookup->why;
            detail = lookup->detail;
            return -1;
        }
        found = lookup->found;
    }
    if (found.empty()) {
        why = ConnectFailure::HostNotFound;
        return -1;
    }
    why = ConnectFailure::TimedOut;
    detail.clear();
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (steps.Stopped()) {
            why = ConnectFailure::Stopped;
            detail.clear();
            return -1;
        }
        const std::uint64_t now = steps.NowMs();
        if (now >= deadline) break;
        // Each address still to try gets an even share of what is left; an early refusal leaves more.
        const std::uint64_t share = (deadline - now) / (found.size() - i);
        const std::intptr_t connection = steps.Attempt(found[i], now + share, why, detail);
        if (connection >= 0) return connection;
    }
    if (steps.Stopped()) {
        why = ConnectFailure::Stopped;
        detail.clear();
    }
    return -1;
}

} // namespace pw
