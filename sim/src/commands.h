// The driver command table (see commands.cpp) and a small accessor for the
// fields of one command's input and output buffers.
#pragma once

#include <cstdint>
#include <cstring>

#include "zelsim.h"

namespace zelsim {

constexpr unsigned kMaxFields = 10;
constexpr unsigned kEnvelopeSize = 32;
constexpr unsigned kRequestType = 0x2E;

// name, output (0: input buffer, 1: output buffer), offset, width
using Field = zelsim_field;

struct Command {
    unsigned number;
    uint32_t request;
    uint32_t inSize;
    uint32_t outSize;
    const char *name;
    Field fields[kMaxFields];

    const Field *field(const char *fieldName, bool output) const;
    unsigned fieldCount() const;
};

// nullptr for a number without a command (0x00, 0x01, 0x1E, 0x1F, > 0x2F).
const Command *findCommand(unsigned number);

// Reads and writes the named fields of one command's buffers. Unknown names
// are a programming error of the simulator and read as 0 / write nothing.
class Fields {
public:
    Fields(const Command &command, const uint8_t *in, uint8_t *out)
        : command_(command), in_(in), out_(out) {}

    uint64_t get(const char *name) const {
        const Field *f = command_.field(name, false);
        if (f == nullptr || f->width > 8) return 0;
        uint64_t value = 0;
        std::memcpy(&value, in_ + f->offset, f->width);  // little-endian host
        return value;
    }
    const uint8_t *bytes(const char *name) const {
        const Field *f = command_.field(name, false);
        return f == nullptr ? nullptr : in_ + f->offset;
    }
    void set(const char *name, uint64_t value) {
        const Field *f = command_.field(name, true);
        if (f == nullptr || f->width > 8) return;
        std::memcpy(out_ + f->offset, &value, f->width);
    }
    uint8_t *outBytes(const char *name, unsigned *width = nullptr) {
        const Field *f = command_.field(name, true);
        if (f == nullptr) return nullptr;
        if (width != nullptr) *width = f->width;
        return out_ + f->offset;
    }
    bool has(const char *name) const { return command_.field(name, false) != nullptr; }

private:
    const Command &command_;
    const uint8_t *in_;
    uint8_t *out_;
};

}  // namespace zelsim
