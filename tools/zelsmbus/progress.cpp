#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace zelsmbus_tool {

std::string showDuration(double seconds) {
    char text[32];
    if (seconds < 10) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    } else {
        const long whole = std::lround(seconds);
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    }
    return text;
}

namespace {

std::string showRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024 * 1024));
    } else {
        std::snprintf(text, sizeof text, "%.0f KiB/s", bytesPerSecond / 1024);
    }
    return text;
}

size_t terminalWidth() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

}  // namespace

std::string progressLine(const std::string &label, double elapsed, double expected,
                         uint64_t bytes, size_t width) {
    if (expected <= 0) return (label + "... " + showDuration(elapsed)).substr(0, width);
    // The step runs as long as the one it is measured by; it is not done
    // before it returns, so the bar stops short of the end.
    const double share = std::min(elapsed / expected, 0.99);
    std::string tail = " " + std::to_string(int(share * 100)) + " %";
    if (bytes > 0 && elapsed > 0) tail += ", " + showRate(double(bytes) * share / elapsed);
    tail += ", " + (elapsed < expected ? showDuration(expected - elapsed) + " left"
                                       : std::string("any moment"));
    const std::string head = label + " ";
    const size_t room = width > head.size() + tail.size() + 2 ? width - head.size() - tail.size() - 2
                                                              : 0;
    const size_t barWidth = std::min<size_t>(room, 30);
    if (barWidth < 5) return (head + tail.substr(1)).substr(0, width);
    const size_t filled = size_t(share * double(barWidth));
    return head + "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]" +
           tail;
}

Progress::Progress(std::string label, bool terminal, double expectedSeconds, uint64_t bytes)
    : label_(std::move(label)),
      expected_(expectedSeconds),
      bytes_(bytes),
      start_(std::chrono::steady_clock::now()) {
    if (terminal) thread_ = std::thread([this] { run(); });
}

Progress::~Progress() { stop(); }

double Progress::seconds() const {
    if (taken_ >= 0) return taken_;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

double Progress::stop() {
    if (taken_ < 0) taken_ = seconds();
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
        std::cerr << "\r\033[K" << std::flush;
    }
    return taken_;
}

void Progress::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
        const std::string line =
            progressLine(label_, seconds(), expected_, bytes_, terminalWidth() - 1);
        std::cerr << "\r\033[K" << line << std::flush;
        wake_.wait_for(lock, std::chrono::milliseconds(500));
    }
}

}  // namespace zelsmbus_tool
