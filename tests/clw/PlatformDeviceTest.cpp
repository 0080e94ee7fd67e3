// Platforms and devices against the real runtime: strings read once and without their
// terminating zero, lazy device enumeration, the sharing test.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

namespace
{

std::string RawPlatformText(cl_platform_id platform, cl_platform_info parameter)
{
    size_t size = 0;
    clGetPlatformInfo(platform, parameter, 0, nullptr, &size);
    std::string text(size, '\0');
    clGetPlatformInfo(platform, parameter, size, text.data(), nullptr);
    return text.c_str();
}

std::string RawDeviceText(cl_device_id device, cl_device_info parameter)
{
    size_t size = 0;
    clGetDeviceInfo(device, parameter, 0, nullptr, &size);
    std::string text(size, '\0');
    clGetDeviceInfo(device, parameter, size, text.data(), nullptr);
    return text.c_str();
}

template <typename T> T RawDeviceValue(cl_device_id device, cl_device_info parameter)
{
    T value{};
    clGetDeviceInfo(device, parameter, sizeof value, &value, nullptr);
    return value;
}

bool EndsInZero(const std::string& text)
{
    return !text.empty() && text.back() == '\0';
}

TEST(ClwPlatform, ReadsItsFourStringsWithoutTheirTerminatingZero)
{
    cl_platform_id id = clw_test::FirstPlatform();
    CLWPlatform platform(id, CL_DEVICE_TYPE_ALL);
    EXPECT_EQ(static_cast<cl_platform_id>(platform), id);
    EXPECT_EQ(platform.GetName(), RawPlatformText(id, CL_PLATFORM_NAME));
    EXPECT_EQ(platform.GetProfile(), RawPlatformText(id, CL_PLATFORM_PROFILE));
    EXPECT_EQ(platform.GetVendor(), RawPlatformText(id, CL_PLATFORM_VENDOR));
    EXPECT_EQ(platform.GetVersion(), RawPlatformText(id, CL_PLATFORM_VERSION));
    EXPECT_FALSE(platform.GetName().empty());
    EXPECT_EQ(platform.GetVersion().rfind("OpenCL ", 0), 0u);
    for (const std::string* text : {&platform.GetName(), &platform.GetProfile(),
                                    &platform.GetVendor(), &platform.GetVersion()})
    {
        EXPECT_FALSE(EndsInZero(*text));
    }
    EXPECT_EQ(platform.GetDeviceType(), static_cast<cl_device_type>(CL_DEVICE_TYPE_ALL));
}

TEST(ClwPlatform, GetDeviceEnumeratesFirstAndReturnsTheFirstDevice)
{
    CLWPlatform platform(clw_test::FirstPlatform(), CL_DEVICE_TYPE_ALL);
    CLWDevice first = platform.GetDevice(0);
    EXPECT_EQ(first.GetID(), clw_test::FirstDevice());
    EXPECT_GE(platform.GetDeviceCount(), 1u);
}

TEST(ClwPlatform, ATypeWithoutDevicesCountsZeroWithoutThrowingEveryTime)
{
    // Whatever the machine, no platform has a device of every type bit at once except
    // through CL_DEVICE_TYPE_ALL; PoCL's CPU-only platform has no GPU, which is the
    // case the demo meets on CI. The custom type is absent from PoCL and from
    // ordinary drivers alike.
    CLWPlatform platform(clw_test::FirstPlatform(), CL_DEVICE_TYPE_CUSTOM);
    EXPECT_EQ(platform.GetDeviceCount(), 0u);
    EXPECT_EQ(platform.GetDeviceCount(), 0u);
}

TEST(ClwPlatform, CopiesCarryTheStrings)
{
    CLWPlatform platform(clw_test::FirstPlatform(), CL_DEVICE_TYPE_ALL);
    CLWPlatform copy(platform);
    EXPECT_EQ(static_cast<cl_platform_id>(copy), static_cast<cl_platform_id>(platform));
    EXPECT_EQ(copy.GetName(), platform.GetName());
    EXPECT_EQ(copy.GetVersion(), platform.GetVersion());
    EXPECT_EQ(copy.GetDeviceCount(), platform.GetDeviceCount());
}

TEST(ClwDevice, ReadsEveryPropertyOnce)
{
    cl_device_id id = clw_test::FirstDevice();
    CLWDevice device(id);
    EXPECT_EQ(device.GetID(), id);
    EXPECT_EQ(device.GetName(), RawDeviceText(id, CL_DEVICE_NAME));
    EXPECT_EQ(device.GetVendor(), RawDeviceText(id, CL_DEVICE_VENDOR));
    EXPECT_EQ(device.GetDriverVersion(), RawDeviceText(id, CL_DRIVER_VERSION));
    EXPECT_EQ(device.GetProfile(), RawDeviceText(id, CL_DEVICE_PROFILE));
    EXPECT_EQ(device.GetExtensions(), RawDeviceText(id, CL_DEVICE_EXTENSIONS));
    for (const std::string* text :
         {&device.GetName(), &device.GetVendor(), &device.GetDriverVersion(), &device.GetProfile(),
          &device.GetExtensions()})
    {
        EXPECT_FALSE(EndsInZero(*text));
    }
    // The type as read, every bit kept.
    EXPECT_EQ(device.GetType(), RawDeviceValue<cl_device_type>(id, CL_DEVICE_TYPE));
    EXPECT_EQ(device.GetLocalMemSize(), RawDeviceValue<cl_ulong>(id, CL_DEVICE_LOCAL_MEM_SIZE));
    EXPECT_EQ(device.GetGlobalMemSize(), RawDeviceValue<cl_ulong>(id, CL_DEVICE_GLOBAL_MEM_SIZE));
    EXPECT_EQ(device.GetMaxAllocSize(), RawDeviceValue<cl_ulong>(id, CL_DEVICE_MAX_MEM_ALLOC_SIZE));
    EXPECT_EQ(device.GetLocalMemType(),
              RawDeviceValue<cl_device_local_mem_type>(id, CL_DEVICE_LOCAL_MEM_TYPE));
    EXPECT_EQ(device.GetMaxWorkGroupSize(),
              RawDeviceValue<size_t>(id, CL_DEVICE_MAX_WORK_GROUP_SIZE));
    EXPECT_EQ(device.GetMinDataTypeAlignSize(),
              RawDeviceValue<cl_uint>(id, CL_DEVICE_MIN_DATA_TYPE_ALIGN_SIZE));
    EXPECT_GT(device.GetGlobalMemSize(), 0u);
}

TEST(ClwDevice, CopiesCarryEveryMember)
{
    CLWDevice device(clw_test::FirstDevice());
    CLWDevice copy(device);
    EXPECT_EQ(copy.GetID(), device.GetID());
    EXPECT_EQ(copy.GetName(), device.GetName());
    EXPECT_EQ(copy.GetVendor(), device.GetVendor());
    EXPECT_EQ(copy.GetDriverVersion(), device.GetDriverVersion());
    EXPECT_EQ(copy.GetProfile(), device.GetProfile());
    EXPECT_EQ(copy.GetExtensions(), device.GetExtensions());
    EXPECT_EQ(copy.GetType(), device.GetType());
    EXPECT_EQ(copy.GetLocalMemSize(), device.GetLocalMemSize());
    EXPECT_EQ(copy.GetGlobalMemSize(), device.GetGlobalMemSize());
    EXPECT_EQ(copy.GetMaxAllocSize(), device.GetMaxAllocSize());
    EXPECT_EQ(copy.GetLocalMemType(), device.GetLocalMemType());
    EXPECT_EQ(copy.GetMaxWorkGroupSize(), device.GetMaxWorkGroupSize());
    EXPECT_EQ(copy.GetMinDataTypeAlignSize(), device.GetMinDataTypeAlignSize());

    CLWDevice assigned;
    assigned = device;
    EXPECT_EQ(assigned.GetName(), device.GetName());
    EXPECT_EQ(assigned.GetType(), device.GetType());
}

TEST(ClwDevice, SharingFollowsTheExtensionList)
{
    CLWDevice device(clw_test::FirstDevice());
    EXPECT_EQ(device.SupportsGlSharing(), HasGlSharingExtension(device.GetExtensions()));
}

TEST(ClwGlSharingExtension, IsAPlainCaseSensitiveSubstringTest)
{
    EXPECT_TRUE(HasGlSharingExtension("cl_khr_fp64 cl_khr_icd cl_khr_gl_sharing cl_khr_gl_event"));
    EXPECT_TRUE(HasGlSharingExtension("cl_APPLE_gl_sharing"));
    EXPECT_TRUE(HasGlSharingExtension("cl_khr_gl_sharing"));
    // Not split into names: the name inside a longer word still counts.
    EXPECT_TRUE(HasGlSharingExtension("xcl_khr_gl_sharing_v2"));

    EXPECT_FALSE(HasGlSharingExtension("cl_khr_gl_event"));
    EXPECT_FALSE(HasGlSharingExtension(""));
    EXPECT_FALSE(HasGlSharingExtension("cl_khr"));
    EXPECT_FALSE(HasGlSharingExtension("CL_KHR_GL_SHARING"));
    EXPECT_FALSE(HasGlSharingExtension("cl_khr_gl_sharin"));
}

} // namespace
