// The trace file of `zelsim record` (zelsim-trace(5)): JSON Lines, a header
// line, then one line per driver request. Reading is strict: a line that is
// not what the format says is refused with its line number. Used by the
// launcher (record, replay) and by the replaying preload library; the
// recorder itself writes lines with the allocation-free writer in
// traceWriter.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zelsim::trace {

constexpr const char *kFormat = "zelsim-trace";
constexpr int kVersion = 1;

// A parsed JSON value: only what the format uses (no floating point).
struct Value {
    enum class Kind { Null, Bool, Integer, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    bool negative = false;  // Integer: the value is -magnitude
    uint64_t magnitude = 0;
    std::string text;
    std::vector<Value> items;
    std::map<std::string, Value> members;

    const Value *member(const std::string &name) const {
        auto it = members.find(name);
        return it == members.end() ? nullptr : &it->second;
    }
};

// Parses one JSON text; false with `error` set when it is not valid JSON.
bool parseJson(const std::string &text, Value &value, std::string &error);

// One node directory of the driver tree as the program saw it.
struct TreeDirectory {
    std::string directory;                      // /proc/driver/zel/.../zelsmbus_zelsmbus\0
    std::map<std::string, std::string> files;   // "interfacePath", "properties/numPorts" -> bytes
};

struct Header {
    std::string source;  // "simulator" or "driver"
    std::vector<std::string> program;
    std::string started;
    bool hasTree = false;
    std::vector<TreeDirectory> tree;
};

struct Record {
    unsigned line = 0;  // in the file, from 1
    uint64_t seq = 0;
    uint64_t tNs = 0;
    int64_t pid = 0;
    int64_t tid = 0;
    std::string node;
    uint32_t request = 0;
    unsigned command = 0;
    std::string name;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    int err = 0;
    int32_t status = 0;
    uint64_t durationNs = 0;
};

struct Trace {
    Header header;
    std::vector<Record> records;  // in the file's order
};

// Reads a whole trace. On failure returns false and `error` says
// "line N: what is wrong".
bool readTrace(const std::string &path, Trace &trace, std::string &error);
bool parseTrace(const std::string &text, Trace &trace, std::string &error);

// Lower-case hex of bytes, and back (false on an odd length or a non-hex digit).
std::string toHex(const uint8_t *bytes, size_t size);
bool fromHex(const std::string &hex, std::vector<uint8_t> &bytes);

// A JSON string literal (with quotes) for text.
std::string quote(const std::string &text);

// The header line for a trace (without the newline).
std::string headerLine(const Header &header);

}  // namespace zelsim::trace
