// Kernel arguments: the byte size each kind passes, checked by what OpenCL accepts and
// refuses and by what the kernel then receives; both SetArg forms and their failures.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

namespace
{

const char* const kKernels = R"CL(
__kernel void TakeInt(__global int* out, int value) { out[0] = value; }
__kernel void TakeLong(__global long* out, long value) { out[0] = value; }
__kernel void TakeUInt(__global uint* out, uint value) { out[0] = value; }
__kernel void TakeFloat(__global float* out, float value) { out[0] = value; }
__kernel void TakeFloat2(__global float2* out, float2 value) { out[0] = value; }
__kernel void TakeFloat3(__global float* out, float3 value)
{
    out[0] = value.x; out[1] = value.y; out[2] = value.z;
}
__kernel void TakeFloat4(__global float4* out, float4 value) { out[0] = value; }
__kernel void TakeULong(__global ulong* out, ulong value) { out[0] = value; }
__kernel void TakeLocal(__global int* out, __local int* scratch)
{
    scratch[0] = 3;
    barrier(CLK_LOCAL_MEM_FENCE);
    out[0] = scratch[0];
}
__kernel void TakeMatrix(__global float* out, float16 matrix) { out[0] = matrix.sf; }
)CL";

class ClwKernelArg : public ::testing::Test
{
protected:
    // Runs `kernel` as one work-item and returns the first `size` bytes of `out`.
    std::vector<unsigned char> Run(const CLWKernel& kernel, size_t size)
    {
        const size_t one[2] = {1, 1};
        context.Launch2D(0, one, one, kernel);
        context.Finish(0);
        std::vector<unsigned char> bytes(size);
        clEnqueueReadBuffer(context.GetCommandQueue(0), out, CL_TRUE, 0, size, bytes.data(), 0,
                            nullptr, nullptr);
        return bytes;
    }

    template <typename T> T RunAndRead(const CLWKernel& kernel)
    {
        std::vector<unsigned char> bytes = Run(kernel, sizeof(T));
        T value;
        std::memcpy(&value, bytes.data(), sizeof value);
        return value;
    }

    CLWKernel Kernel(const char* name)
    {
        CLWKernel kernel = program.GetKernel(name);
        EXPECT_EQ(kernel.SetArg(0, out), CL_SUCCESS);
        return kernel;
    }

    CLWContext context = clw_test::MakeContext();
    CLWProgram program = clw_test::Build(context, kKernels);
    CLWBuffer<cl_float> out = CLWBuffer<cl_float>::Create(context, CL_MEM_READ_WRITE, 16, nullptr);
};

// Only a cl_int becomes a kind-1 argument by itself; other numbers must say their kind.
static_assert(std::is_convertible_v<cl_int, CLWKernelArg>);
static_assert(std::is_convertible_v<cl_mem, CLWKernelArg>);
static_assert(std::is_convertible_v<CLWBuffer<float>, CLWKernelArg>);
static_assert(!std::is_convertible_v<float, CLWKernelArg>);
static_assert(!std::is_convertible_v<size_t, CLWKernelArg>);
static_assert(!std::is_convertible_v<cl_uint, CLWKernelArg>);
static_assert(!std::is_convertible_v<bool, CLWKernelArg>);

TEST_F(ClwKernelArg, AMemoryArgumentHoldsTheHandleAndTakesNoReference)
{
    cl_mem handle = out;
    const cl_uint before = clw_test::ReferenceCount(handle);
    CLWKernelArg fromBuffer(out);
    CLWKernelArg fromHandle(handle);
    EXPECT_EQ(clw_test::ReferenceCount(handle), before);
    EXPECT_EQ(std::memcmp(fromBuffer.GetPayload(), &handle, sizeof handle), 0);
    EXPECT_EQ(std::memcmp(fromHandle.GetPayload(), &handle, sizeof handle), 0);
}

TEST_F(ClwKernelArg, KindOnePassesFourBytes)
{
    CLWKernel takeInt = Kernel("TakeInt");
    ASSERT_EQ(takeInt.SetArg(1, -123456), CL_SUCCESS);
    EXPECT_EQ(RunAndRead<cl_int>(takeInt), -123456);
    // A parameter of 8 bytes refuses the 4.
    EXPECT_EQ(Kernel("TakeLong").SetArg(1, 5), CL_INVALID_ARG_SIZE);
}

TEST_F(ClwKernelArg, KindZeroPassesTheHandle)
{
    // The kernel writes through the argument, so the buffer's own handle arrived.
    CLWKernel takeInt = program.GetKernel("TakeInt");
    CLWBuffer<cl_int> target = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 1, nullptr);
    ASSERT_EQ(takeInt.SetArg(0, static_cast<cl_mem>(target)), CL_SUCCESS);
    ASSERT_EQ(takeInt.SetArg(1, 31), CL_SUCCESS);
    const size_t one[2] = {1, 1};
    context.Launch2D(0, one, one, takeInt);
    context.Finish(0);
    EXPECT_EQ(clw_test::ReadInts(context, target, 1), std::vector<cl_int>{31});
    // Eight bytes where a 4-byte int is expected are refused.
    EXPECT_EQ(takeInt.SetArg(1, target), CL_INVALID_ARG_SIZE);
}

TEST_F(ClwKernelArg, KindSevenWith256GivesALocalBufferOf256Bytes)
{
    CLWKernel takeLocal = Kernel("TakeLocal");
    ASSERT_EQ(takeLocal.SetArg(1, CLWKernelArg::Local(256)), CL_SUCCESS);
    cl_ulong localBytes = 0;
    ASSERT_EQ(clGetKernelWorkGroupInfo(takeLocal, context.GetDevice(0).GetID(),
                                       CL_KERNEL_LOCAL_MEM_SIZE, sizeof localBytes, &localBytes,
                                       nullptr),
              CL_SUCCESS);
    EXPECT_EQ(localBytes, 256u);
    EXPECT_EQ(RunAndRead<cl_int>(takeLocal), 3);
}

TEST_F(ClwKernelArg, TheOtherKindsArriveIntact)
{
    CLWKernel takeUInt = Kernel("TakeUInt");
    ASSERT_EQ(takeUInt.SetArg(1, CLWKernelArg::UInt(4000000000u)), CL_SUCCESS);
    EXPECT_EQ(RunAndRead<cl_uint>(takeUInt), 4000000000u);

    CLWKernel takeFloat = Kernel("TakeFloat");
    ASSERT_EQ(takeFloat.SetArg(1, CLWKernelArg::Float(2.5f)), CL_SUCCESS);
    EXPECT_EQ(RunAndRead<cl_float>(takeFloat), 2.5f);

    CLWKernel takeFloat2 = Kernel("TakeFloat2");
    ASSERT_EQ(takeFloat2.SetArg(1, CLWKernelArg::Float2({{1.5f, -2.0f}})), CL_SUCCESS);
    cl_float2 pair = RunAndRead<cl_float2>(takeFloat2);
    EXPECT_EQ(pair.s[0], 1.5f);
    EXPECT_EQ(pair.s[1], -2.0f);

    CLWKernel takeFloat4 = Kernel("TakeFloat4");
    ASSERT_EQ(takeFloat4.SetArg(1, CLWKernelArg::Float4({{1, 2, 3, 4}})), CL_SUCCESS);
    cl_float4 quad = RunAndRead<cl_float4>(takeFloat4);
    EXPECT_EQ(quad.s[0], 1.0f);
    EXPECT_EQ(quad.s[3], 4.0f);

    // A float3 is passed in 16 bytes, so Float4 serves it too.
    CLWKernel takeFloat3 = Kernel("TakeFloat3");
    ASSERT_EQ(takeFloat3.SetArg(1, CLWKernelArg::Float4({{7, 8, 9, 0}})), CL_SUCCESS);
    cl_float4 triple = RunAndRead<cl_float4>(takeFloat3);
    EXPECT_EQ(triple.s[0], 7.0f);
    EXPECT_EQ(triple.s[2], 9.0f);

    CLWKernel takeULong = Kernel("TakeULong");
    ASSERT_EQ(takeULong.SetArg(1, CLWKernelArg::ULong(0x123456789abcdefULL)), CL_SUCCESS);
    EXPECT_EQ(RunAndRead<cl_ulong>(takeULong), 0x123456789abcdefULL);
}

TEST_F(ClwKernelArg, TheRawFormPassesAnySizedValue)
{
    CLWKernel takeMatrix = Kernel("TakeMatrix");
    cl_float matrix[16] = {};
    matrix[15] = 42.0f;
    takeMatrix.SetArg(1, sizeof matrix, matrix);
    EXPECT_EQ(RunAndRead<cl_float>(takeMatrix), 42.0f);
}

TEST_F(ClwKernelArg, PastTheLastParameterTheTaggedFormReturnsTheStatus)
{
    CLWKernel takeInt = Kernel("TakeInt");
    EXPECT_EQ(takeInt.SetArg(2, 1), CL_INVALID_ARG_INDEX);
    EXPECT_EQ(takeInt.SetArg(2, 1), -49);
}

TEST_F(ClwKernelArg, PastTheLastParameterTheRawFormThrows)
{
    CLWKernel takeInt = Kernel("TakeInt");
    const cl_int value = 1;
    try
    {
        takeInt.SetArg(2, sizeof value, &value);
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clSetKernelArg failed");
        EXPECT_EQ(error.GetStatus(), -49);
    }
}

TEST_F(ClwKernelArg, ARefusedTaggedArgumentKeepsThePreviousValue)
{
    CLWKernel takeInt = Kernel("TakeInt");
    ASSERT_EQ(takeInt.SetArg(1, 5), CL_SUCCESS);
    EXPECT_EQ(takeInt.SetArg(1, CLWKernelArg::ULong(9)), CL_INVALID_ARG_SIZE);
    EXPECT_EQ(RunAndRead<cl_int>(takeInt), 5);
}

} // namespace
