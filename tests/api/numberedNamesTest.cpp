// The numbered resource-name grammar, on its own.
#include <gtest/gtest.h>

#include <string>

#include "api/controllerSet.h"

using nZELSMBUS000::matchNumberedName;

namespace {

struct NameCase {
    const char *name;
    bool matches;
    uint16_t device;
    uint16_t port;
};

class NumberedName : public ::testing::TestWithParam<NameCase> {};

TEST_P(NumberedName, ParsesAsTheScanFormatReadsIt) {
    const NameCase &c = GetParam();
    uint16_t device = 0xBEEF, port = 0xBEEF;
    EXPECT_EQ(matchNumberedName(c.name, "zelsmbus::system", device, port), c.matches) << c.name;
    if (c.matches) {
        EXPECT_EQ(device, c.device) << c.name;
        EXPECT_EQ(port, c.port) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, NumberedName,
    ::testing::Values(
        NameCase{"ZELSMBUS::SYSTEM", true, 0, 0}, NameCase{"zelsmbus::system::0", true, 0, 0},
        NameCase{"ZelSMBus::System::0::0", true, 0, 0}, NameCase{"ZELSMBUS::SYSTEM::2", true, 2, 0},
        NameCase{"ZELSMBUS::SYSTEM::3::7", true, 3, 7},
        NameCase{"ZELSMBUS::SYSTEM::65537", true, 1, 0},  // 16-bit truncation
        NameCase{"ZELSMBUS::SYSTEM::1::65536", true, 1, 0},
        NameCase{"ZELSMBUS::SYSTEM:: 1", true, 1, 0},      // %u skips blanks
        NameCase{"ZELSMBUS::SYSTEM::+1::+2", true, 1, 2},  // and takes a sign
        NameCase{"ZELSMBUS::SYSTEM::0::", false, 0, 0},
        NameCase{"ZELSMBUS::SYSTEM::0x1", false, 0, 0},
        NameCase{"ZELSMBUS::SYSTEM::1x", false, 0, 0},
        NameCase{"ZELSMBUS::SYSTEM::1::", false, 0, 0},
        NameCase{"ZELSMBUS::SYSTEM::1 ", false, 0, 0},  // trailing blank
        NameCase{"ZELSMBUS::SYSTEM::1::2 ", false, 0, 0},
        NameCase{"ZELSMBUS::SYSTEM::1::2::3", false, 0, 0},
        NameCase{"ZELSMBUS::SYSTEM::", false, 0, 0}, NameCase{"ZELSMBUS::SYSTEMX", false, 0, 0},
        NameCase{"ZELSMBUS::SYST", false, 0, 0},  // shorter than the prefix
        NameCase{"ZELSMBUS::REMOTE::0::0", false, 0, 0}, NameCase{"", false, 0, 0}));

TEST(NumberedNameRemote, UsesTheGivenPrefix) {
    uint16_t device = 0, port = 0;
    EXPECT_TRUE(matchNumberedName("ZELSMBUS::REMOTE::0::1", "zelsmbus::remote", device, port));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(port, 1);
    EXPECT_FALSE(matchNumberedName("ZELSMBUS::SYSTEM::0::1", "zelsmbus::remote", device, port));
}

}  // namespace
