// A broken OpenCL implementation of our own beside PoCL (CMake points OCL_ICD_VENDORS at
// the two): its device queries fail, which must cost that platform alone.
#include "clw/CLW.h"

#include <gtest/gtest.h>

namespace
{

TEST(ClwBrokenPlatform, IsSkippedWithTheFailingCallAndTheOtherPlatformStillServes)
{
    const std::vector<CLWPlatformDescription> platforms = DescribePlatforms();
    ASSERT_EQ(platforms.size(), 2u);
    const size_t broken = platforms[0].failure.empty() ? 1 : 0;
    const CLWPlatformDescription& good = platforms[1 - broken];

    EXPECT_EQ(platforms[broken].failure, "clGetDeviceInfo failed, status -5");
    EXPECT_TRUE(platforms[broken].devices.empty());
    EXPECT_EQ(DescribeSkippedPlatform(platforms[broken], broken),
              "OpenCL platform \"Broken ICD\" skipped: clGetDeviceInfo failed, status -5");

    EXPECT_EQ(good.failure, "");
    ASSERT_FALSE(good.devices.empty());
    const std::optional<CLWDeviceChoice> choice = ChooseFallbackDevice(platforms);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->platform, 1 - broken);
}

} // namespace
