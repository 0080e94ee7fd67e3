// Typed buffers: N elements of T ask OpenCL for N * sizeof(T) bytes; flags and host
// data reach clCreateBuffer; a refused creation throws.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

namespace
{

// Records of the sizes the demo's buffers hold: a 44-byte vertex and a 48-byte ray.
struct Record44
{
    float values[11];
};
struct Record48
{
    float values[12];
};
static_assert(sizeof(Record44) == 44 && sizeof(Record48) == 48);

size_t MemSize(cl_mem memory)
{
    size_t size = 0;
    clGetMemObjectInfo(memory, CL_MEM_SIZE, sizeof size, &size, nullptr);
    return size;
}

class ClwBuffer : public ::testing::Test
{
protected:
    CLWContext context = clw_test::MakeContext();
};

TEST_F(ClwBuffer, NElementsRequestNTimesTheElementSize)
{
    CLWBuffer<Record48> rays =
        CLWBuffer<Record48>::Create(context, CL_MEM_READ_WRITE, 1000, nullptr);
    EXPECT_EQ(MemSize(rays), 1000u * 48u);
    EXPECT_EQ(rays.GetElementCount(), 1000u);

    CLWBuffer<Record44> vertices =
        CLWBuffer<Record44>::Create(context, CL_MEM_READ_WRITE, 3, nullptr);
    EXPECT_EQ(MemSize(vertices), 3u * 44u);

    CLWBuffer<Record44> copy = vertices;
    EXPECT_EQ(copy.GetElementCount(), 3u);
}

TEST_F(ClwBuffer, FlagsAndHostDataReachOpenCL)
{
    std::vector<cl_int> host = {4, 5, 6};
    CLWBuffer<cl_int> buffer = CLWBuffer<cl_int>::Create(
        context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, host.size(), host.data());
    cl_mem_flags flags = 0;
    clGetMemObjectInfo(buffer, CL_MEM_FLAGS, sizeof flags, &flags, nullptr);
    EXPECT_EQ(flags, static_cast<cl_mem_flags>(CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR));
    EXPECT_EQ(clw_test::ReadInts(context, buffer, 3), host);
}

TEST_F(ClwBuffer, AZeroSizeBufferThrowsCreateBufferFailed)
{
    try
    {
        CLWBuffer<Record44>::Create(context, CL_MEM_READ_WRITE, 0, nullptr);
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clCreateBuffer failed");
        EXPECT_EQ(error.GetStatus(), CL_INVALID_BUFFER_SIZE);
    }
}

TEST_F(ClwBuffer, ACountWhoseByteSizeWrapsAroundThrows)
{
    // 4 * (2^62 + 1) is 4 in 64-bit arithmetic: a buffer OpenCL would make.
    const size_t count = (size_t{1} << 62) + 1;
    try
    {
        CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, count, nullptr);
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clCreateBuffer failed");
        EXPECT_EQ(error.GetStatus(), CL_INVALID_BUFFER_SIZE);
    }
}

TEST_F(ClwBuffer, CopyingHostDataWithoutHostDataThrows)
{
    try
    {
        CLWBuffer<cl_int>::Create(context, CL_MEM_COPY_HOST_PTR, 4, nullptr);
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clCreateBuffer failed");
        EXPECT_EQ(error.GetStatus(), CL_INVALID_HOST_PTR);
    }
}

} // namespace
