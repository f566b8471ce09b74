// Worker threads as every backend starts, stops and joins them.
#include "link/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace pw;

namespace {

struct CountingWake : WakeSignal {
    std::atomic<int>* raised;
    explicit CountingWake(std::atomic<int>* r) : raised(r) {}
    void Raise() override { ++*raised; }
    std::intptr_t Native() const override { return 7; }
};

TEST(WorkerThreads, AStopIsSeenByTheWorkerAndRaisesItsWakeUp) {
    std::atomic<int> raised{0};
    WorkerThreads workers([&] { return std::make_unique<CountingWake>(&raised); });
    std::atomic<bool> sawStop{false};
    std::atomic<bool> knewItself{false};
    const ThreadHandle t = workers.Start([&] {
        knewItself = WorkerThreads::Current() != nullptr && WorkerThreads::Current()->WakeHandle(-1) == 7;
        while (!WorkerThreads::CurrentStopped()) std::this_thread::yield();
        sawStop = true;
    });
    ASSERT_NE(t, 0u);
    EXPECT_EQ(WorkerThreads::Current(), nullptr) << "the caller is no worker";
    workers.Stop(t);
    workers.Join(t);
    EXPECT_TRUE(sawStop);
    EXPECT_TRUE(knewItself);
    EXPECT_EQ(raised, 1);
    workers.Stop(t); // forgotten after the join: nothing happens
    EXPECT_EQ(raised, 1);
}

TEST(WorkerThreads, AThreadThatCannotBeStartedGivesZeroAndItsBodyNeverRuns) {
    std::atomic<int> ran{0};
    WorkerThreads workers(nullptr, [](std::thread&, std::function<void()>) { return false; });
    EXPECT_EQ(workers.Start([&] { ++ran; }), 0u);
    workers.Join(0);
    workers.JoinAll();
    EXPECT_EQ(ran, 0);
}

TEST(WorkerThreads, TheDestructorStopsAndJoinsWhatIsLeft) {
    std::atomic<bool> ended{false};
    {
        WorkerThreads workers(nullptr);
        ASSERT_NE(workers.Start([&] {
            while (!WorkerThreads::CurrentStopped()) std::this_thread::yield();
            ended = true;
        }),
                  0u);
    }
    EXPECT_TRUE(ended);
}

} // namespace
