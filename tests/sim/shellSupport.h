// For tests that run the launcher and other programs as separate processes:
// a shell command's output and status, and a pause that takes real time
// (the test program links the simulator, whose sleeps are virtual).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

namespace simtest {

// Output and exit status of a shell command.
struct Result {
    std::string out;
    int status = -1;
};

inline Result shell(const std::string &command) {
    Result run;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Waits `milliseconds` of real time (a condition wait is no sleep the
// simulator counts).
inline void realPause(int milliseconds) {
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (never.wait_until(lock, until) != std::cv_status::timeout) {
    }
}

// A test with a scratch folder and a runtime directory of its own, so that no
// started world of the user's is touched; what the test started is stopped.
class ScratchRuntime : public ::testing::Test {
protected:
    ScratchRuntime(std::string launcher, std::string client, std::string prefix)
        : launcher_(std::move(launcher)), client_(std::move(client)), prefix_(std::move(prefix)) {}
    void SetUp() override {
        if (access(launcher_.c_str(), X_OK) != 0 || access(client_.c_str(), X_OK) != 0)
            GTEST_SKIP() << "launcher or driver client not built";
        std::string pattern = "/tmp/" + prefix_ + "-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        runtime_ = scratch_ + "/runtime";
        setenv("ZELSIM_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override {
        if (scratch_.empty()) return;
        shell(launcher_ + " stop 2>/dev/null");
        unsetenv("ZELSIM_RUNTIME_DIR");
        shell("rm -rf " + scratch_);
    }
    std::string writeFile(const std::string &name, const std::string &text) {
        std::string path = scratch_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string scratch_, runtime_;

private:
    std::string launcher_, client_, prefix_;
};

}  // namespace simtest
