// With no OpenCL platform at all, listing the platforms is a failure, not an empty list.
//
// The ICD loader is pointed at an empty vendor directory before anything asks it for a
// platform, so it finds none. This must be the only test of its executable: the loader
// reads its vendors once per process.
#include "clw/CLW.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{

TEST(ClwWithoutPlatforms, ListingPlatformsThrowsGetPlatformIDsFailed)
{
    const test_support::ScratchDir empty;
    setenv("OCL_ICD_VENDORS", empty.Root().c_str(), 1);
    setenv("OPENCL_LAYERS", "", 1);

    try
    {
        GetPlatformIDs();
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clGetPlatformIDs failed");
        // The ICD loaders answer CL_PLATFORM_NOT_FOUND_KHR (-1001) on the count call.
        EXPECT_EQ(error.GetStatus(), -1001);
    }
    EXPECT_THROW(DescribePlatforms(), CLWException);
}

} // namespace
