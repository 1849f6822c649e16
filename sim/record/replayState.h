// The state `zelsim replay` shares with every process of the replayed
// program (a file each process maps): how far the strict order has got,
// which records keyed matching has used, and the first divergence.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zelsim::replay {

constexpr uint32_t kNone = UINT32_MAX;
constexpr size_t kNodeBytes = 128;
constexpr size_t kInBytes = 1024;

enum DivergenceState : uint32_t { kClean = 0, kWriting = 1, kWritten = 2 };

struct Divergence {
    uint32_t expected;  // index of the record that was due (sorted by seq), kNone if none
    uint32_t served;    // requests answered before it
    uint32_t request;
    uint32_t inSize;    // bytes kept in `in` (the envelope's size may be larger)
    uint32_t envelopeInSize;
    int32_t pid;
    char node[kNodeBytes];
    uint8_t in[kInBytes];
};

struct State {
    std::atomic<uint32_t> cursor;    // strict: the next record due
    std::atomic<uint32_t> served;    // requests answered from the trace
    std::atomic<uint32_t> diverged;  // DivergenceState
    uint32_t recordCount;
    Divergence divergence;
    std::atomic<uint8_t> used[1];  // keyed: one flag per record (recordCount of them)
};

inline size_t stateSize(uint32_t records) { return offsetof(State, used) + records + 1; }

// A volatile register field, as the launcher resolves it for the preload
// from the command table: requests of `command` whose `register` field (at
// registerOffset, registerWidth bytes of the input) holds `reg` on `node`
// ("*": any). A read (valueOffset < 0) may be made more or fewer times than
// recorded; a write's value field is compared outside `mask` only.
struct Volatile {
    char node[kNodeBytes];
    unsigned command;
    unsigned registerOffset;
    unsigned registerWidth;
    uint64_t reg;
    int valueOffset;
    unsigned valueWidth;
    uint64_t mask;
};

}  // namespace zelsim::replay
