// Shared pieces of the tests that run the exports against the simulated driver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zelsim.h"
#include "zelsmbus.h"

namespace apitest {

// Owns a session for the length of a test.
class Session {
public:
    Session() = default;
    explicit Session(const char *name) { open(name); }
    ~Session() { ZELSMBusClose(handle_); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    int32_t open(const char *name) {
        ZELSMBusClose(handle_);
        handle_ = nullptr;
        return ZELSMBusOpen(name, &handle_);
    }
    tSMBusHandle *get() const { return handle_; }
    operator tSMBusHandle *() const { return handle_; }

private:
    tSMBusHandle *handle_ = nullptr;
};

inline std::vector<zelsim_log_record> wireLog() {
    std::vector<zelsim_log_record> entries(zelsim_log_count());
    for (size_t i = 0; i < entries.size(); ++i) zelsim_log_entry(i, &entries[i]);
    return entries;
}

inline uint32_t field(const uint8_t *bytes, unsigned offset, unsigned width) {
    uint32_t value = 0;
    std::memcpy(&value, bytes + offset, width);
    return value;
}

// Node and port a handle's commands go to: one quick read of an absent device.
inline std::pair<int, int> locate(tSMBusHandle *handle) {
    zelsim_log_clear();
    ZELSMBusQuickRead(handle, 0x02);
    std::vector<zelsim_log_record> log = wireLog();
    if (log.size() != 1) return {-1, -1};
    return {log[0].node, static_cast<int>(field(log[0].in, 0, 2))};
}

class SimTest : public ::testing::Test {
protected:
    // The built-in world, except that every port protects at least one address:
    // only the tests about an empty driver list depend on one.
    void SetUp() override {
        zelsim_reset();
        std::string world = zelsim_default_world_text();
        const std::string port = "text = \"HOST::SMBUS1\"";
        const size_t at = world.find(port);
        ASSERT_NE(at, std::string::npos);
        world.insert(at + port.size(), "\n  protected = [0xEE]");
        loadWorld(world);
        zelsim_clear_call_counts();
    }
    void TearDown() override { zelsim_reset(); }

    static void loadWorld(const std::string &toml) {
        ASSERT_EQ(zelsim_load_world_text(toml.c_str()), 0) << zelsim_last_error();
    }
};

}  // namespace apitest
