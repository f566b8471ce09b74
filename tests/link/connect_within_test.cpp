// The connect loop on a virtual clock: a lookup that hangs, a stop, and addresses sharing the limit.
#include "link/connect_within.h"

#include <gtest/gtest.h>

#include <map>

using namespace pw;

namespace {

// Connection attempts by script; time moves only when the loop sleeps or an attempt waits.
class ScriptedSteps : public ConnectSteps {
  public:
    std::uint64_t now = 1000;
    bool lookupRuns = true;       // false: the lookup's thread never finishes (a resolver that hangs)
    bool lookupStarts = true;     // false: no thread to be had
    std::uint64_t stopAt = ~0ull; // Stopped() from this time on
    // Per address (its first byte): how long the attempt takes before it answers, and whether it connects.
    struct Answer {
        std::uint64_t afterMs;
        bool connects;
        ConnectFailure why = ConnectFailure::Refused;
    };
    std::map<int, Answer> answers;
    std::vector<std::pair<int, std::uint64_t>> attempts; // address, deadline

    std::intptr_t Attempt(const ResolvedAddress& to, std::uint64_t deadline, ConnectFailure& why,
                          std::string& detail) override {
        const int id = to.sockaddr.at(0);
        attempts.emplace_back(id, deadline);
        const Answer a = answers.at(id);
        if (now + a.afterMs >= deadline || now + a.afterMs >= stopAt) {
            now = std::min(deadline, stopAt); // no answer before the attempt's end
            why = now >= stopAt ? ConnectFailure::Stopped : ConnectFailure::TimedOut;
            detail = "timed out";
            return -1;
        }
        now += a.afterMs;
        if (a.connects) return 100 + id;
        why = a.why;
        detail = "refused";
        return -1;
    }
    std::uint64_t NowMs() override { return now; }
    void Sleep(std::uint32_t ms) override { now += ms; }
    bool Stopped() override { return now >= stopAt; }
    bool StartLookup(std::function<void()> lookup) override {
        if (!lookupStarts) return false;
        if (lookupRuns) lookup();
        return true;
    }
};

Resolver Gives(std::vector<int> ids) {
    return [ids](const NetworkAddress&, std::vector<ResolvedAddress>& found, ConnectFailure&, std::string&) {
        for (int id : ids) found.push_back({2, 1, 6, {static_cast<std::uint8_t>(id)}});
        return true;
    };
}

NetworkAddress Printer() {
    NetworkAddress a;
    a.host = "till1.shop.lan";
    return a;
}

TEST(ConnectWithin, ALookupThatHangsEndsAtTheLimitAndAStopEndsItAtOnce) {
    ScriptedSteps steps;
    steps.lookupRuns = false;
    ConnectFailure why{};
    std::string detail;
    EXPECT_EQ(ConnectWithin(steps, Gives({1}), Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::LookupTimedOut);
    EXPECT_EQ(steps.now, 6000u) << "the whole limit and no more";
    EXPECT_TRUE(steps.attempts.empty());

    ScriptedSteps stopped;
    stopped.lookupRuns = false;
    stopped.stopAt = 1300;
    EXPECT_EQ(ConnectWithin(stopped, Gives({1}), Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::Stopped);
    EXPECT_LE(stopped.now, 1310u) << "cut within one look";
}

TEST(ConnectWithin, ALookupAloneGivesEveryAddressOrEndsAtItsLimitAndAtAStop) {
    ScriptedSteps steps;
    std::vector<ResolvedAddress> found;
    ConnectFailure why{};
    std::string detail;
    ASSERT_TRUE(LookUpWithin(steps, Gives({1, 2, 3}), Printer(), 1000, found, why, detail));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[2].sockaddr, (std::vector<std::uint8_t>{3}));
    EXPECT_TRUE(steps.attempts.empty()) << "nothing is connected";

    ScriptedSteps hangs;
    hangs.lookupRuns = false;
    EXPECT_FALSE(LookUpWithin(hangs, Gives({1}), Printer(), 1000, found, why, detail));
    EXPECT_EQ(why, ConnectFailure::LookupTimedOut);
    EXPECT_EQ(hangs.now, 2000u) << "the limit given, not the connection's 5 s";
    EXPECT_TRUE(found.empty());

    ScriptedSteps stopped;
    stopped.lookupRuns = false;
    stopped.stopAt = 1200;
    EXPECT_FALSE(LookUpWithin(stopped, Gives({1}), Printer(), 5000, found, why, detail));
    EXPECT_EQ(why, ConnectFailure::Stopped);
    EXPECT_LE(stopped.now, 1220u);

    const Resolver unknown = [](const NetworkAddress&, std::vector<ResolvedAddress>&, ConnectFailure& w,
                                std::string& d) {
        w = ConnectFailure::HostNotFound;
        d = "Name or service not known";
        return false;
    };
    EXPECT_FALSE(LookUpWithin(steps, unknown, Printer(), 1000, found, why, detail));
    EXPECT_EQ(why, ConnectFailure::HostNotFound);
    EXPECT_EQ(detail, "Name or service not known");
}

TEST(ConnectWithin, TheAddressesShareTheLimitSoADeadFirstOneLeavesTimeForTheNext) {
    ScriptedSteps steps;
    steps.answers = {{1, {60000, false}}, {2, {30, true}}};
    ConnectFailure why{};
    std::string detail;
    EXPECT_EQ(ConnectWithin(steps, Gives({1, 2}), Printer(), 5000, why, detail), 102);
    ASSERT_EQ(steps.attempts.size(), 2u);
    EXPECT_EQ(steps.attempts[0], std::make_pair(1, std::uint64_t{1000 + 2500})) << "half for the first";
    EXPECT_EQ(steps.attempts[1], std::make_pair(2, std::uint64_t{6000})) << "the rest for the last";

    // A refusal costs no more than it takes: the next address gets the rest.
    ScriptedSteps refused;
    refused.answers = {{1, {20, false}}, {2, {0, false}}, {3, {40, true}}};
    EXPECT_EQ(ConnectWithin(refused, Gives({1, 2, 3}), Printer(), 5000, why, detail), 103);
    ASSERT_EQ(refused.attempts.size(), 3u);
    EXPECT_EQ(refused.attempts[0].second, 1000u + 5000 / 3);
    EXPECT_EQ(refused.attempts[1].second, 1020u + 4980 / 2);
    EXPECT_EQ(refused.attempts[2].second, 6000u);

    // All dead: the limit, and the last attempt's reason.
    ScriptedSteps dead;
    dead.answers = {{1, {60000, false}}, {2, {60000, false}}};
    EXPECT_EQ(ConnectWithin(dead, Gives({1, 2}), Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::TimedOut);
    EXPECT_EQ(dead.now, 6000u);
}

TEST(ConnectWithin, AStopDuringAnAttemptAndLookupFailuresAreReportedAsWhatTheyAre) {
    ScriptedSteps steps;
    steps.answers = {{1, {60000, false}}, {2, {10, true}}};
    steps.stopAt = 2000;
    ConnectFailure why{};
    std::string detail;
    EXPECT_EQ(ConnectWithin(steps, Gives({1, 2}), Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::Stopped);
    EXPECT_EQ(steps.attempts.size(), 1u) << "no attempt starts after a stop";

    ScriptedSteps none;
    EXPECT_EQ(ConnectWithin(none, Gives({}), Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::HostNotFound);

    const Resolver unknown = [](const NetworkAddress&, std::vector<ResolvedAddress>&, ConnectFailure& w,
                                std::string& d) {
        w = ConnectFailure::HostNotFound;
        d = "Name or service not known";
        return false;
    };
    ScriptedSteps failing;
    EXPECT_EQ(ConnectWithin(failing, unknown, Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::HostNotFound);
    EXPECT_EQ(detail, "Name or service not known");

    ScriptedSteps noThread;
    noThread.lookupStarts = false;
    EXPECT_EQ(ConnectWithin(noThread, Gives({1}), Printer(), 5000, why, detail), -1);
    EXPECT_EQ(why, ConnectFailure::Other);
    EXPECT_NE(detail.find("no thread"), std::string::npos) << detail;
}

} // namespace

namespace {

// An address never waits on a name server: it is read where the connect runs, with no lookup thread.
TEST(ConnectWithin, AnAddressIsTakenAsWrittenWithoutALookupThread) {
    ScriptedSteps steps;
    steps.lookupStarts = false; // a lookup thread would fail the connect
    steps.answers[1] = {10, true};
    NetworkAddress a;
    a.host = "192.168.1.50";
    a.numeric = true;
    ConnectFailure why{};
    std::string detail;
    EXPECT_GE(ConnectWithin(steps, Gives({1}), a, 5000, why, detail), 0) << detail;
    std::vector<ResolvedAddress> found;
    EXPECT_TRUE(LookUpWithin(steps, Gives({1, 2}), a, 5000, found, why, detail)) << detail;
    EXPECT_EQ(found.size(), 2u);
}

} // namespace
