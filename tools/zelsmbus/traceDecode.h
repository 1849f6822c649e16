// Reading a driver trace (JSON Lines written by `zelsim record`) and turning
// its requests into SMBus/I2C operations and flash phases.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelsmbus_tool {

// A line of the trace that is not what the format says; line counts from 1.
class TraceError : public std::runtime_error {
public:
    TraceError(size_t line, const std::string &message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
    size_t line() const { return line_; }

private:
    size_t line_;
};

// One driver request as the trace holds it.
struct TraceRecord {
    size_t line = 0;
    uint64_t seq = 0;
    uint64_t tNs = 0;
    int64_t pid = 0, tid = 0;
    std::string node;
    uint32_t request = 0;
    uint8_t command = 0;
    std::string name;
    std::vector<uint8_t> in, out;
    int errnoValue = 0;
    int32_t status = 0;
    uint64_t durationNs = 0;
};

struct TraceHeader {
    std::string source;
    std::vector<std::string> program;
    std::string started;
};

// Reads the whole trace strictly, handing each request to `each` in turn:
// the header must name the format "zelsim-trace" and version 1, every other
// line must be one request with every key of the right type and a rising
// seq (unknown keys are ignored). Throws TraceError.
void readTrace(std::istream &in, TraceHeader &header,
               const std::function<void(TraceRecord &&)> &each);

struct TraceOptions {
    bool json = false;  // one JSON object a line instead of text
    bool raw = false;   // every request on its own, flash registers too
};

// Checks the whole trace, then reads it again and prints one line (or
// object) per operation as it goes, flash register traffic as its phases
// unless raw: memory stays small however long the trace. The stream must
// be seekable. Throws TraceError for a bad line.
void printTrace(std::istream &in, std::ostream &out, const TraceOptions &options);

}  // namespace zelsmbus_tool
