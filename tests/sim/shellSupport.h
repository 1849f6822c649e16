// For tests that run the launcher and other programs as separate processes:
// a shell command's output and status, and a pause that takes real time
// (the test program links the simulator, whose sleeps are virtual).
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
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

}  // namespace simtest
