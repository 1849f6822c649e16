// Recognition of backplane resource names and the string helpers behind it.
#include <gtest/gtest.h>

#include "api/backplane.h"
#include "api/resourceNameParts.h"

namespace nZELSMBUS000 {
namespace {

struct tNameCase {
    const char *name;
    bool accepted;
    int32_t chassis;
};

class BackplaneNames : public ::testing::TestWithParam<tNameCase> {};

TEST_P(BackplaneNames, AreRecognisedWithTheirChassisNumber) {
    const tNameCase &c = GetParam();
    int32_t chassis = -12345;
    EXPECT_EQ(isBackplaneName(c.name, chassis), c.accepted) << c.name;
    EXPECT_EQ(chassis, c.accepted ? c.chassis : -12345) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BackplaneNames,
    ::testing::Values(
        tNameCase{"PXI0::1::BACKPLANE", true, 1}, tNameCase{"pxi::1::backplane", true, 1},
        tNameCase{"PXI0::1::BACKPLANE::", true, 1}, tNameCase{"PXI7::2::Backplane", true, 2},
        tNameCase{"PXI-3::+4::BackPlane", true, 4}, tNameCase{"PXI 1:: 12::BACKPLANE", true, 12},
        tNameCase{"PXI0::-1::BACKPLANE", true, -1}, tNameCase{"PXI0x::1::BACKPLANE", false, 0},
        tNameCase{"PXI0::::BACKPLANE", false, 0}, tNameCase{"PXI0::1::BACKPLANE::X", false, 0},
        tNameCase{"::PXI0::1::BACKPLANE", false, 0}, tNameCase{"PX::1::BACKPLANE", false, 0},
        tNameCase{"PXI0::1 ::BACKPLANE", false, 0}, tNameCase{"PXI0::1x::BACKPLANE", false, 0},
        tNameCase{"PXI0::1::BACKPLANES", false, 0},
        tNameCase{"PXI0::4294967297::BACKPLANE", false, 0}, tNameCase{"PXI0::1", false, 0},
        tNameCase{"", false, 0}));

TEST(BackplaneNames, NullIsNotAName) {
    int32_t chassis = 0;
    EXPECT_FALSE(isBackplaneName(nullptr, chassis));
}

struct tSplitCase {
    const char *text;
    std::vector<std::string> parts;
};

class SplitResourceName : public ::testing::TestWithParam<tSplitCase> {};

TEST_P(SplitResourceName, CutsAtEverySeparator) {
    EXPECT_EQ(splitResourceName(GetParam().text, "::"), GetParam().parts) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, SplitResourceName,
                         ::testing::Values(tSplitCase{"a::b", {"a", "b"}},
                                           tSplitCase{"a::b::", {"a", "b"}},
                                           tSplitCase{"::a", {"", "a"}},
                                           tSplitCase{"a::::b", {"a", "", "b"}},
                                           tSplitCase{"a:b", {"a:b"}},
                                           tSplitCase{"a:::b", {"a", ":b"}}, tSplitCase{"", {}}));

TEST(EqualsIgnoreCase, ComparesLengthAndLowerCase) {
    EXPECT_TRUE(equalsIgnoreCase("BackPlane", "backplane"));
    EXPECT_FALSE(equalsIgnoreCase("backplane", "backplanes"));
    EXPECT_FALSE(equalsIgnoreCase("backplanf", "backplane"));
    EXPECT_TRUE(equalsIgnoreCase("", ""));
}

}  // namespace
}  // namespace nZELSMBUS000
