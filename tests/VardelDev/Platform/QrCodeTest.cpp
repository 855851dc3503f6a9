#include "QrCode.h"

#include <gtest/gtest.h>

using vardel::QrCode;

// A finder pattern: a dark 7x7 ring, a light ring inside, a dark 3x3 core, with a light separator outside.
static void expectFinder(const QrCode& code, int left, int top)
{
    for (int y = -1; y <= 7; ++y) {
        for (int x = -1; x <= 7; ++x) {
            const int depth = std::min({ x, 6 - x, y, 6 - y }); // <0 outside, 0 on the edge
            ASSERT_EQ(code.dark(left + x, top + y), depth == 0 || depth >= 2) << left + x << "," << top + y;
        }
    }
}

TEST(QrCodeTest, DrawsTheThreeFinderPatternsOfTheSmallestVersionThatHoldsTheLink)
{
    const auto small = QrCode::encode("123456");
    const auto link = QrCode::encode("https://t.me/a_watch_bot?start=483920");
    ASSERT_TRUE(small && link);
    EXPECT_EQ(small->size(), 21); // version 1
    EXPECT_EQ((link->size() - 17) % 4, 0);
    EXPECT_GT(link->size(), small->size());
    for (const QrCode* code : { &*small, &*link }) {
        expectFinder(*code, 0, 0);
        expectFinder(*code, code->size() - 7, 0);
        expectFinder(*code, 0, code->size() - 7);
        EXPECT_FALSE(code->dark(code->size(), 0)); // the quiet zone reads as light
    }
    EXPECT_FALSE(QrCode::encode(std::string(4000, 'x'))) << "longer than the largest version holds";
}
