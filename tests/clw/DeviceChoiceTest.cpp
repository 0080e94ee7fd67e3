// Which platform and device the demo computes on, decided over made-up descriptions (so
// that GPUs, old platforms and sharing drivers this machine lacks can be described), and
// once over the real runtime's own description.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

namespace
{

const cl_device_type kGpu = CL_DEVICE_TYPE_GPU;
const cl_device_type kCpu = CL_DEVICE_TYPE_CPU;
const char* const kSharing = "cl_khr_icd cl_khr_gl_sharing cl_khr_gl_event";
const char* const kNoSharing = "cl_khr_icd cl_khr_gl_event";

CLWDeviceDescription Device(cl_device_type type, const char* extensions)
{
    CLWDeviceDescription device;
    device.type = type;
    device.extensions = extensions;
    return device;
}

CLWPlatformDescription Platform(const std::string& version,
                                std::vector<CLWDeviceDescription> devices)
{
    CLWPlatformDescription platform;
    platform.version = version;
    platform.devices = std::move(devices);
    return platform;
}

// The platform index and device index of a choice, or {-1, -1} for none.
std::pair<int, int> Chosen(const std::optional<CLWDeviceChoice>& choice)
{
    if (!choice)
    {
        return {-1, -1};
    }
    return {static_cast<int>(choice->platform), static_cast<int>(choice->device)};
}

const std::pair<int, int> kNone{-1, -1};

TEST(ClwPlatformVersion, OneZeroAndOneOneAnywhereAreRefused)
{
    EXPECT_FALSE(IsAcceptablePlatformVersion("OpenCL 1.0 Vendor"));
    EXPECT_FALSE(IsAcceptablePlatformVersion("OpenCL 1.1 CUDA 4.2.1"));
    EXPECT_FALSE(IsAcceptablePlatformVersion("Vendor driver, compatible with OpenCL 1.1"));
    EXPECT_FALSE(IsAcceptablePlatformVersion("OpenCL 1.10"));
    EXPECT_FALSE(IsAcceptablePlatformVersion(std::string("OpenCL 1.1\0", 11)));
}

TEST(ClwPlatformVersion, OneTwoAndLaterAreAccepted)
{
    EXPECT_TRUE(IsAcceptablePlatformVersion("OpenCL 1.2 AMD-APP (3423.0)"));
    EXPECT_TRUE(IsAcceptablePlatformVersion("OpenCL 2.0"));
    EXPECT_TRUE(IsAcceptablePlatformVersion("OpenCL 3.0 PoCL 3.1+debian  Linux"));
    // A terminating zero kept in the text changes nothing.
    EXPECT_TRUE(IsAcceptablePlatformVersion(std::string("OpenCL 1.2\0", 11)));
    // Plain, case-sensitive substrings: these do not name 1.0 or 1.1.
    EXPECT_TRUE(IsAcceptablePlatformVersion("opencl 1.1"));
    EXPECT_TRUE(IsAcceptablePlatformVersion("OpenCL 11"));
    // A failed version query leaves an empty text, which is not refused.
    EXPECT_TRUE(IsAcceptablePlatformVersion(""));
}

TEST(ClwChooseSharingGpu, TakesASharingGpuOnAnAcceptablePlatform)
{
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 1.2 Vendor", {Device(kGpu, kSharing)})})),
              std::make_pair(0, 0));
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 2.0", {Device(kGpu, kSharing)})})),
              std::make_pair(0, 0));
    EXPECT_EQ(
        Chosen(ChooseSharingGpu({Platform("OpenCL 1.2", {Device(kGpu, "cl_APPLE_gl_sharing")})})),
        std::make_pair(0, 0));
}

TEST(ClwChooseSharingGpu, SkipsPlatformsThatNameOneZeroOrOneOne)
{
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 1.1 Vendor", {Device(kGpu, kSharing)}),
                                       Platform("OpenCL 1.0", {Device(kGpu, kSharing)}),
                                       Platform("Old OpenCL 1.1 driver", {Device(kGpu, kSharing)}),
                                       Platform("OpenCL 1.2", {Device(kGpu, kSharing)})})),
              std::make_pair(3, 0));
}

TEST(ClwChooseSharingGpu, PassesOverAGpuWithoutSharingForTheNextDevice)
{
    EXPECT_EQ(
        Chosen(ChooseSharingGpu({Platform(
            "OpenCL 1.2", {Device(kGpu, kNoSharing), Device(kGpu, ""), Device(kGpu, kSharing)})})),
        std::make_pair(0, 2));
}

TEST(ClwChooseSharingGpu, PassesOverAGpuThatReportsAnotherTypeBitToo)
{
    const cl_device_type gpuAndDefault = CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT;
    const cl_device_type gpuAndAccelerator = CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_ACCELERATOR;
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 1.2", {Device(gpuAndDefault, kSharing),
                                                               Device(gpuAndAccelerator, kSharing),
                                                               Device(kGpu, kSharing)})})),
              std::make_pair(0, 2));
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 1.2", {Device(gpuAndDefault, kSharing)})})),
              kNone);
}

TEST(ClwChooseSharingGpu, NeverTakesAnotherType)
{
    EXPECT_EQ(Chosen(ChooseSharingGpu(
                  {Platform("OpenCL 3.0", {Device(kCpu, kSharing)}),
                   Platform("OpenCL 3.0", {Device(CL_DEVICE_TYPE_ACCELERATOR, kSharing)})})),
              kNone);
}

TEST(ClwChooseSharingGpu, TheFirstAcceptablePlatformWins)
{
    // Both platforms qualify; the first is taken, not the "better" one.
    EXPECT_EQ(Chosen(ChooseSharingGpu(
                  {Platform("OpenCL 1.2 Small", {Device(kGpu, kSharing)}),
                   Platform("OpenCL 3.0 Big", {Device(kGpu, kSharing), Device(kGpu, kSharing)})})),
              std::make_pair(0, 0));
    // A platform without a qualifying device (or without devices) hands over to the next.
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 1.2", {}),
                                       Platform("OpenCL 1.2", {Device(kCpu, kNoSharing)}),
                                       Platform("OpenCL 1.2", {Device(kGpu, kSharing)})})),
              std::make_pair(2, 0));
}

TEST(ClwChooseSharingGpu, NothingToChooseFrom)
{
    EXPECT_EQ(Chosen(ChooseSharingGpu({})), kNone);
    EXPECT_EQ(Chosen(ChooseSharingGpu({Platform("OpenCL 1.1", {Device(kGpu, kSharing)})})), kNone);
}

TEST(ClwChooseFallbackDevice, PrefersAGpuWithoutSharing)
{
    EXPECT_EQ(Chosen(ChooseFallbackDevice(
                  {Platform("OpenCL 1.2", {Device(kCpu, ""), Device(kGpu, kNoSharing)})})),
              std::make_pair(0, 1));
    // A GPU that reports another type bit as well is still a GPU here.
    EXPECT_EQ(Chosen(ChooseFallbackDevice({Platform(
                  "OpenCL 1.2",
                  {Device(kCpu, ""), Device(CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT, "")})})),
              std::make_pair(0, 1));
}

TEST(ClwChooseFallbackDevice, AGpuOnALaterPlatformBeatsACpuOnAnEarlierOne)
{
    EXPECT_EQ(Chosen(ChooseFallbackDevice({Platform("OpenCL 3.0 PoCL", {Device(kCpu, "")}),
                                           Platform("OpenCL 1.2 Vendor", {Device(kGpu, "")})})),
              std::make_pair(1, 0));
}

TEST(ClwChooseFallbackDevice, WithoutAGpuTakesTheFirstDeviceOfTheFirstPlatformThatHasOne)
{
    EXPECT_EQ(Chosen(ChooseFallbackDevice(
                  {Platform("OpenCL 1.1", {Device(kGpu, "")}), Platform("OpenCL 3.0", {}),
                   Platform("OpenCL 3.0 PoCL",
                            {Device(CL_DEVICE_TYPE_ACCELERATOR, ""), Device(kCpu, "")}),
                   Platform("OpenCL 3.0 Other", {Device(kCpu, "")})})),
              std::make_pair(2, 0));
}

TEST(ClwChooseFallbackDevice, SkipsUnacceptablePlatformsAndMayFindNothing)
{
    EXPECT_EQ(Chosen(ChooseFallbackDevice({})), kNone);
    EXPECT_EQ(Chosen(ChooseFallbackDevice(
                  {Platform("OpenCL 1.0", {Device(kGpu, kSharing)}), Platform("OpenCL 2.0", {})})),
              kNone);
}

// The real runtime described: on CI that is PoCL, with one CPU device and no sharing.
TEST(ClwDescribePlatforms, DescribesTheRuntimesPlatformsAndDevices)
{
    std::vector<CLWPlatformDescription> platforms = DescribePlatforms();
    ASSERT_FALSE(platforms.empty());
    EXPECT_EQ(platforms[0].id, clw_test::FirstPlatform());
    EXPECT_EQ(platforms[0].version, ReadPlatformVersion(platforms[0].id));
    ASSERT_FALSE(platforms[0].devices.empty());
    CLWDevice first(clw_test::FirstDevice());
    EXPECT_EQ(platforms[0].devices[0].id, first.GetID());
    EXPECT_EQ(platforms[0].devices[0].type, first.GetType());
    EXPECT_EQ(platforms[0].devices[0].extensions, first.GetExtensions());
}

TEST(ClwDescribePlatforms, TheVersionTextKeepsAllItsBytes)
{
    cl_platform_id id = clw_test::FirstPlatform();
    size_t size = 0;
    clGetPlatformInfo(id, CL_PLATFORM_VERSION, 0, nullptr, &size);
    const std::string version = ReadPlatformVersion(id);
    EXPECT_EQ(version.size(), size);
    EXPECT_EQ(version.back(), '\0');
    EXPECT_EQ(version.rfind("OpenCL ", 0), 0u);
}

TEST(ClwDescribePlatforms, ChoicesOverTheRealRuntimeAgreeWithItsDevices)
{
    std::vector<CLWPlatformDescription> platforms = DescribePlatforms();
    std::optional<CLWDeviceChoice> sharing = ChooseSharingGpu(platforms);
    if (sharing)
    {
        const CLWDeviceDescription& device = platforms[sharing->platform].devices[sharing->device];
        EXPECT_EQ(device.type, static_cast<cl_device_type>(CL_DEVICE_TYPE_GPU));
        EXPECT_TRUE(HasGlSharingExtension(device.extensions));
    }
    // Any machine that runs these tests has some OpenCL device, so the fallback finds one.
    std::optional<CLWDeviceChoice> fallback = ChooseFallbackDevice(platforms);
    ASSERT_TRUE(fallback.has_value());
    CLWDevice device(platforms[fallback->platform].devices[fallback->device].id);
    EXPECT_NE(device.GetID(), nullptr);
}

TEST(ClwGetPlatformIDs, ListsThePlatformsInTheRuntimesOrder)
{
    std::vector<cl_platform_id> ids = GetPlatformIDs();
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids[0], clw_test::FirstPlatform());
}

} // namespace
