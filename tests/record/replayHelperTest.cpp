// The GoogleTest helper users include (zelsimReplay.h): a recorded dump
// replays as a passing assertion with the same output, a divergence fails
// with zelsim's decoded report, a bad trace is refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "zelsimReplay.h"

namespace {

const std::string kBuild = ZELSIM_TEST_BUILD_DIR;
const std::string kTool = kBuild + "/tools/zelsmbus/zelsmbus";

class ReplayHelper : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << kTool << " not built";
        std::string pattern = "/tmp/zelsim-replay-helper-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        // Records in a private world, whatever world the user has started.
        setenv("ZELSIM_RUNTIME_DIR", (scratch_ + "/run").c_str(), 1);
        options_.launcher = kBuild + "/sim/zelsim";
    }
    void TearDown() override {
        unsetenv("ZELSIM_RUNTIME_DIR");
        if (!scratch_.empty()) {
            EXPECT_EQ(std::system(("rm -rf '" + scratch_ + "'").c_str()), 0);
        }
    }
    std::string scratch_;
    zelsim::replay::Options options_;
};

TEST_F(ReplayHelper, ReplaysAndReportsDivergence) {
    const std::string trace = scratch_ + "/dump.jsonl";
    auto dump = [&](const char *address) {
        return std::vector<std::string>{kTool, "dump", "ZELSMBUS::SYSTEM::0::0", address};
    };
    zelsim::replay::Result recorded = zelsim::replay::record(trace, dump("0x50"), "", options_.launcher);
    ASSERT_EQ(recorded.status, 0) << recorded.err;

    zelsim::replay::Result same = zelsim::replay::run(trace, dump("0x50"), options_);
    EXPECT_TRUE(zelsim::replay::replayed(same));
    EXPECT_EQ(same.out, recorded.out);

    zelsim::replay::Result other = zelsim::replay::run(trace, dump("0x51"), options_);
    ::testing::AssertionResult verdict = zelsim::replay::replayed(other);
    EXPECT_FALSE(verdict);
    EXPECT_NE(std::string(verdict.message()).find("actual   readByte on /dev/zelsmbus0"),
              std::string::npos)
        << verdict.message();

    std::ofstream(scratch_ + "/bad.jsonl") << "{\n";
    ::testing::AssertionResult refused = zelsim::replay::replayed(
        zelsim::replay::run(scratch_ + "/bad.jsonl", {"true"}, options_));
    EXPECT_FALSE(refused);
    EXPECT_NE(std::string(refused.message()).find("line 1:"), std::string::npos)
        << refused.message();
}

}  // namespace
