// The simulator's command log keeps the most recent records, oldest first.
#include "../../sim/src/logRing.h"

#include <gtest/gtest.h>

namespace {

std::vector<int> contents(const zelsim::LogRing<int> &ring) {
    std::vector<int> out;
    for (size_t i = 0; i < ring.size(); ++i) out.push_back(ring[i]);
    return out;
}

TEST(LogRing, KeepsTheMostRecentRecordsOldestFirst) {
    zelsim::LogRing<int> ring(4);
    for (int i = 1; i <= 3; ++i) ring.push_back(i);
    EXPECT_EQ(contents(ring), (std::vector<int>{1, 2, 3}));
    for (int i = 4; i <= 10; ++i) ring.push_back(i);
    EXPECT_EQ(contents(ring), (std::vector<int>{7, 8, 9, 10}));
}

TEST(LogRing, ClearStartsOver) {
    zelsim::LogRing<int> ring(3);
    for (int i = 1; i <= 5; ++i) ring.push_back(i);
    ring.clear();
    EXPECT_EQ(ring.size(), 0u);
    ring.push_back(6);
    ring.push_back(7);
    EXPECT_EQ(contents(ring), (std::vector<int>{6, 7}));
}

}  // namespace
