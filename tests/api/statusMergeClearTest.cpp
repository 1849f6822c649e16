// The status record's merge and clear, on the fields the other record tests
// leave alone: a refused merge carries nothing, and clear forgets the details.
#include <gtest/gtest.h>

#include "status/tStatus.h"

namespace {

using nZELSMBUS000::tStatus;

tStatus withDetails(int64_t code, uint64_t firstWord) {
    tStatus status;
    status.setCode(code, "zelsmbus", "source.cpp", 40);
    status.extension[0] = firstWord;
    status.extension[1] = 0;
    return status;
}

TEST(StatusMerge, ARefusedCodeCarriesNoDetails) {
    struct tCase {
        int64_t held, offered;
    };
    // An error is never replaced, and a warning does not replace a warning.
    for (const tCase c : {tCase{-1, -2}, tCase{-1, 2}, tCase{1, 2}}) {
        SCOPED_TRACE(c.held);
        tStatus target = withDetails(c.held, 11);
        const tStatus source = withDetails(c.offered, 99);
        EXPECT_FALSE(target.merge(source));
        EXPECT_EQ(target.code, c.held);
        EXPECT_EQ(target.extension[0], 11u);
        EXPECT_EQ(target.line, 40u);
    }
}

TEST(StatusClear, ForgetsCodeAndEveryDetail) {
    tStatus status = withDetails(-52031, 7);
    status.clear();
    EXPECT_EQ(status.code, 0);
    EXPECT_STREQ(status.component, "");
    EXPECT_STREQ(status.file, "");
    EXPECT_EQ(status.line, 0u);
    EXPECT_EQ(status.extension[0], 0u);
    EXPECT_EQ(status.size, tStatus::kFullSize);
}

}  // namespace
