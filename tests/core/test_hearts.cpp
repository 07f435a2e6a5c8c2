#include "core/hearts.h"

#include <gtest/gtest.h>

using namespace kiku::hearts;

TEST(Hearts, GrowthTableAtItsBoundaries) {
    struct Case {
        qint64 count;
        double factor;
    } cases[] = {{0, 0},      {1, 0},      {2, 1},      {100, 1}, {101, 1.25}, {200, 1.25},
                 {201, 1.5},  {300, 1.5},  {301, 1.75}, {401, 2}, {501, 2.25}, {601, 2.5},
                 {701, 2.75}, {800, 2.75}, {801, 3},    {900, 3}, {901, 0},    {5000, 0}};
    for (const Case& c : cases) {
        const Growth g = growth(c.count, c.count, c.count > 900 ? 0 : c.count);
        EXPECT_DOUBLE_EQ(g.factor, c.factor) << c.count;
        EXPECT_FALSE(g.merged) << c.count;
    }
}

TEST(Hearts, MergeNeedsBothCountsAtAThousand) {
    EXPECT_TRUE(growth(1000, 1000, 1000).merged);
    EXPECT_TRUE(growth(1000, 1000, 1050).merged);
    const Growth received = growth(1000, 1000, 950); // sent below 1000: no merge
    EXPECT_FALSE(received.merged);
    EXPECT_DOUBLE_EQ(received.factor, 0);
    EXPECT_DOUBLE_EQ(growth(950, 1000, 950).factor, 0); // 950 is above 900 too
}

TEST(Hearts, BalanceIsLostOnlyBeyondAHundred) {
    EXPECT_FALSE(balanceLost(100, 0));
    EXPECT_FALSE(balanceLost(0, 100));
    EXPECT_TRUE(balanceLost(201, 100));
    EXPECT_TRUE(balanceLost(0, 101));
    EXPECT_FALSE(balanceLost(1000, 950));
}

TEST(Hearts, BeatSizesFollowTheFactor) {
    EXPECT_EQ(beatSize(growth(150, 150, 100).factor), QSize(325, 250));
    EXPECT_EQ(beatSize(growth(100, 150, 100).factor), QSize(260, 200));
    EXPECT_EQ(beatSize(0), QSize(0, 0));
    EXPECT_EQ(beatSize(3), QSize(780, 600));
}

TEST(Hearts, FlightsStopAtTheHearts) {
    EXPECT_EQ(sentFlight(), QList<int>({7110, 6710, 6310, 5910, 5510, 5110, 4710}));
    EXPECT_EQ(receivedFlight(), QList<int>({970, 1370, 1770, 2170, 2570, 2970, 3370}));
}
