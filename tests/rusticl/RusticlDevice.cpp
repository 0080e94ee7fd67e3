// Linked into the suites that run a second time on Mesa's rusticl: where the process sees
// no OpenCL device (rusticl not installed, or not enabled), every case is skipped with a
// message instead of failing.
#include <CL/cl.h>
#include <gtest/gtest.h>

#include <vector>

namespace
{

class RusticlDevice : public testing::Environment
{
public:
    void SetUp() override
    {
        cl_uint count = 0;
        if (clGetPlatformIDs(0, nullptr, &count) != CL_SUCCESS || count == 0)
        {
            GTEST_SKIP() << "rusticl offers no OpenCL platform here (install mesa-opencl-icd)";
        }
        std::vector<cl_platform_id> platforms(count);
        clGetPlatformIDs(count, platforms.data(), nullptr);
        for (cl_platform_id platform : platforms)
        {
            cl_uint devices = 0;
            if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 0, nullptr, &devices) == CL_SUCCESS &&
                devices > 0)
            {
                return;
            }
        }
        GTEST_SKIP() << "rusticl offers no OpenCL device here (RUSTICL_ENABLE=llvmpipe "
                        "gives one on the CPU)";
    }
};

const testing::Environment* const kRusticlDevice =
    testing::AddGlobalTestEnvironment(new RusticlDevice);

} // namespace
