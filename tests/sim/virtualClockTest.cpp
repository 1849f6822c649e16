// Sleeps under virtual time: a loop that waits for a moment on a real clock
// (or for anything else the simulator does not model) ends when that moment
// comes without spinning, while sleeps between driver commands stay
// virtual; an alarm goes off on the process's timeline; a wait for a signal
// (pselect/ppoll with a mask) lets the signal in.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "wire.h"
#include "zelsim.h"

namespace {

// Real time, past the simulator's clock wrappers.
int64_t realMs() {
    timespec now{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

volatile sig_atomic_t gSignals = 0;
extern "C" void countSignal(int) { gSignals = gSignals + 1; }

class VirtualClock : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_set_virtual_time(1);
        struct sigaction action {};
        action.sa_handler = countSignal;
        sigaction(SIGALRM, &action, &savedAlarm_);
        sigaction(SIGUSR1, &action, &savedUser_);
        gSignals = 0;
    }
    void TearDown() override {
        alarm(0);
        sigaction(SIGALRM, &savedAlarm_, nullptr);
        sigaction(SIGUSR1, &savedUser_, nullptr);
    }
    struct sigaction savedAlarm_ {}, savedUser_ {};
};

TEST_F(VirtualClock, DeadlineLoopsOnARealClockEndOnTimeWithoutSpinning) {
    const unsigned long callsBefore = zelsim_nanosleep_calls();
    int64_t start = realMs();
    std::this_thread::sleep_until(std::chrono::system_clock::now() + std::chrono::milliseconds(300));
    EXPECT_GE(realMs() - start, 290);
    EXPECT_LT(realMs() - start, 2000);
    EXPECT_LT(zelsim_nanosleep_calls() - callsBefore, 60u);  // not one per microsecond

    int rounds = 0;
    start = realMs();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until && rounds < 100000) {
        usleep(1000);
        ++rounds;
    }
    EXPECT_LE(rounds, 400);
    EXPECT_GE(realMs() - start, 290);
}

TEST_F(VirtualClock, SleepsBetweenDriverCommandsStayVirtual) {
    simtest::Node node(0);
    zelsim_reset_virtual_clock();
    const int64_t start = realMs();
    for (int i = 0; i < 50; ++i) {
        node.call(0x02, {});
        usleep(100000);
    }
    EXPECT_EQ(zelsim_virtual_ns(), 5000000000ull);
    EXPECT_LT(realMs() - start, 300);  // an idle loop's 10 ms a round would be 490
}

TEST_F(VirtualClock, AnAlarmGoesOffOnTheProcessClockAndInterruptsTheSleep) {
    const int64_t start = realMs();
    alarm(1);
    EXPECT_EQ(sleep(3), 2u);  // ended after one second, by the alarm
    EXPECT_EQ(gSignals, 1);
    alarm(2);
    timespec five{5, 0}, left{};
    errno = 0;
    EXPECT_EQ(nanosleep(&five, &left), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(left.tv_sec, 3);
    EXPECT_EQ(gSignals, 2);
    EXPECT_EQ(alarm(10), 0u);  // the earlier alarm went off
    EXPECT_EQ(alarm(0), 10u);
    EXPECT_EQ(sleep(1), 0u);  // a cancelled alarm never comes
    EXPECT_EQ(gSignals, 2);
    EXPECT_LT(realMs() - start, 900);
}

TEST_F(VirtualClock, AWaitWithASignalMaskLetsThePendingSignalIn) {
    sigset_t blocked, open;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigemptyset(&open);
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &blocked, &saved);
    raise(SIGUSR1);  // pending until a wait opens the mask
    timespec ten{10, 0};
    errno = 0;
    EXPECT_EQ(ppoll(nullptr, 0, &ten, &open), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(gSignals, 1);
    raise(SIGUSR1);
    EXPECT_EQ(pselect(0, nullptr, nullptr, nullptr, &ten, &open), -1);
    EXPECT_EQ(gSignals, 2);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace
