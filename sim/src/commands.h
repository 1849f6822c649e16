// The driver command table (see commands.cpp): every command's request code,
// buffer sizes, fields and the one handler that answers it, and a small
// accessor for the fields of one command's input and output buffers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "envelope.h"
#include "zelsim.h"

namespace zelsim {

constexpr unsigned kMaxFields = 10;
constexpr unsigned kEnvelopeSize = envelope::kSize;
constexpr unsigned kRequestType = 0x2E;

// name, output (0: input buffer, 1: output buffer), offset, width
using Field = zelsim_field;

struct Call;  // handlers.h
using Handler = int32_t (*)(Call &);

// What a command reaches before its handler runs.
enum class Scope {
    Node,  // the node itself: no port field
    Port,  // one of the node's ports, checked first
    Bus,   // a port's bus: checked, then waits for a bus lock held by another descriptor
};

struct Command {
    unsigned number;
    uint32_t request;
    uint32_t inSize;
    uint32_t outSize;
    const char *name;
    Scope scope;
    Handler run;
    Field fields[kMaxFields];

    const Field *field(const char *fieldName, bool output) const {
        for (const Field &f : fields) {
            if (f.name == nullptr) break;
            if (f.output == (output ? 1 : 0) && std::strcmp(f.name, fieldName) == 0) return &f;
        }
        return nullptr;
    }
    unsigned fieldCount() const;
};

// nullptr for a number without a command (0x00, 0x01, 0x1E, 0x1F, > 0x2F).
const Command *findCommand(unsigned number);

// Reads and writes the named fields of one command's buffers. A name the
// command does not have is a mistake in the simulator itself: it stops the
// program with a message naming the command and the field, rather than
// reading 0 or writing nothing.
class Fields {
public:
    Fields(const Command &command, const uint8_t *in, uint8_t *out)
        : command_(command), in_(in), out_(out) {}

    uint64_t get(const char *name) const {
        const Field &f = require(name, false, true);
        uint64_t value = 0;
        std::memcpy(&value, in_ + f.offset, f.width);  // little-endian host
        return value;
    }
    const uint8_t *bytes(const char *name) const {
        return in_ + require(name, false, false).offset;
    }
    void set(const char *name, uint64_t value) {
        const Field &f = require(name, true, true);
        std::memcpy(out_ + f.offset, &value, f.width);
    }
    uint8_t *outBytes(const char *name, unsigned *width = nullptr) {
        const Field &f = require(name, true, false);
        if (width != nullptr) *width = f.width;
        return out_ + f.offset;
    }
    // Whether the command carries an input field (e.g. "pec"); never fails.
    bool has(const char *name) const { return command_.field(name, false) != nullptr; }
    const Command &command() const { return command_; }

private:
    const Field &require(const char *name, bool output, bool scalar) const {
        const Field *f = command_.field(name, output);
        if (f == nullptr || (scalar && f->width > 8)) {
            std::fprintf(stderr, "zelsim: internal error: command %s has no %s %s field '%s'\n",
                         command_.name, scalar ? "numeric" : "byte", output ? "output" : "input",
                         name);
            std::abort();
        }
        return *f;
    }

    const Command &command_;
    const uint8_t *in_;
    uint8_t *out_;
};

}  // namespace zelsim
