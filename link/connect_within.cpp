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

namespace {

bool LookUpBy(ConnectSteps& steps, const Resolver& resolve, const NetworkAddress& address,
              std::uint64_t deadline, std::vector<ResolvedAddress>& found, ConnectFailure& why,
              std::string& detail) {
    // An address is taken as written (the resolver never asks a name server for it): no thread to wait on.
    // A thread that would end at once is also the one a detach can race with on some thread libraries.
    if (address.numeric) {
        ConnectFailure failure = ConnectFailure::Other;
        std::string words;
        if (resolve(address, found, failure, words)) return true;
        why = failure;
        detail = words;
        return false;
    }
    auto lookup = std::make_shared<Lookup>();
    const bool started = steps.StartLookup([lookup, resolve, address] {
        std::vector<ResolvedAddress> addresses;
        ConnectFailure failure = ConnectFailure::Other;
        std::string words;
        const bool ok = resolve(address, addresses, failure, words);
        std::lock_guard lock(lookup->mutex);
        lookup->ok = ok;
        lookup->found = std::move(addresses);
        lookup->why = failure;
        lookup->detail = std::move(words);
        lookup->done = true;
    });
    if (!started) {
        why = ConnectFailure::Other;
        detail = "no thread could be started for the name lookup";
        return false;
    }
    for (;;) {
        {
            std::lock_guard lock(lookup->mutex);
            if (lookup->done) break;
        }
        if (steps.Stopped()) {
            why = ConnectFailure::Stopped;
            return false;
        }
        const std::uint64_t now = steps.NowMs();
        if (now >= deadline) {
            why = ConnectFailure::LookupTimedOut;
            return false;
        }
        steps.Sleep(static_cast<std::uint32_t>(std::min<std::uint64_t>(kLookSliceMs, deadline - now)));
    }
    std::lock_guard lock(lookup->mutex);
    if (!lookup->ok) {
        why = lookup->why;
        detail = lookup->detail;
        return false;
    }
    found = lookup->found;
    return true;
}

} // namespace

bool LookUpWithin(ConnectSteps& steps, const Resolver& resolve, const NetworkAddress& address,
                  std::uint32_t limitMs, std::vector<ResolvedAddress>& found, ConnectFailure& why,
                  std::string& detail) {
    found.clear();
    return LookUpBy(steps, resolve, address, steps.NowMs() + limitMs, found, why, detail);
}

std::intptr_t ConnectWithin(ConnectSteps& steps, const Resolver& resolve, const NetworkAddress& address,
                            std::uint32_t limitMs, ConnectFailure& why, std::string& detail) {
    const std::uint64_t deadline = steps.NowMs() + limitMs;
    std::vector<ResolvedAddress> found;
    if (!LookUpBy(steps, resolve, address, deadline, found, why, detail)) return -1;
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
