// The frame-rate title rule, fed with frame times.
#include "app/FrameRate.h"

#include <gtest/gtest.h>

namespace
{

TEST(FrameRate, ShowsNothingBeforeASecondHasPassed)
{
    int frames = 0;
    float seconds = 0.0f;
    for (int i = 0; i < 9; ++i)
    {
        EXPECT_FALSE(CountFrame(frames, seconds, 0.1f).has_value());
    }
    EXPECT_EQ(frames, 9);
}

TEST(FrameRate, TheFrameThatReachesOneSecondIsCountedAndResetsTheInterval)
{
    int frames = 0;
    float seconds = 0.0f;
    CountFrame(frames, seconds, 0.25f);
    CountFrame(frames, seconds, 0.25f);
    CountFrame(frames, seconds, 0.25f);
    const auto shown = CountFrame(frames, seconds, 0.25f); // exactly 1.0 s
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(*shown, 4);
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(seconds, 0.0f);
}

TEST(FrameRate, TheSurplusOverOneSecondIsDropped)
{
    int frames = 0;
    float seconds = 0.0f;
    CountFrame(frames, seconds, 0.6f);
    ASSERT_EQ(CountFrame(frames, seconds, 0.9f), 2); // 1.5 s: the 0.5 s surplus goes
    // Were the surplus carried, 0.6 s more would complete the next second.
    EXPECT_FALSE(CountFrame(frames, seconds, 0.6f).has_value());
    EXPECT_EQ(CountFrame(frames, seconds, 0.4f), 2);
}

TEST(FrameRate, ASingleLongFrameShowsOne)
{
    int frames = 0;
    float seconds = 0.0f;
    EXPECT_EQ(CountFrame(frames, seconds, 3.0f), 1);
}

} // namespace
