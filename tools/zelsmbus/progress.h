// How a long step shows that it is under way. On a terminal (the standard
// error stream) one line redraws itself twice a second: a bar with the share
// done, the rate and the time left when the step's length can be told in
// advance, the seconds passed otherwise. Elsewhere nothing is redrawn: the
// command's own phase lines on the standard output tell a log what runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace zelsmbus_tool {

// The line shown after `elapsed` seconds of a step labelled `label` that is
// expected to take `expected` seconds (0: not known) and handles `bytes`
// bytes (0: not known), at most `width` columns wide.
std::string progressLine(const std::string &label, double elapsed, double expected,
                         uint64_t bytes, size_t width);

// "1 min 05 s", "12 s", "0.4 s".
std::string showDuration(double seconds);

class Progress {
public:
    // Draws nothing unless `terminal`; measures the time either way.
    Progress(std::string label, bool terminal, double expectedSeconds = 0, uint64_t bytes = 0);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // Ends the line (the terminal's line is cleared) and returns the seconds taken.
    double stop();
    double seconds() const;

private:
    void run();

    std::string label_;
    double expected_;
    uint64_t bytes_;
    std::chrono::steady_clock::time_point start_;
    double taken_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
};

}  // namespace zelsmbus_tool
