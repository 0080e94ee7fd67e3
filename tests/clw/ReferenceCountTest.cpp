// OpenCL's own reference counts, read back with the CL_*_REFERENCE_COUNT queries, stay
// equal to the number of live wrappers: copies, assignments, self-assignment, factories
// and destruction, class by class, on the real runtime.
//
// A runtime may hold references of its own (PoCL's queues hold their context, its
// kernels their program). Where that matters a test compares with a twin object built
// by hand with plain OpenCL calls and a single owner, or checks differences only.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

namespace
{

using clw_test::ReferenceCount;

const char* const kTwoKernels = "__kernel void First(__global int* out) { out[0] = 1; }\n"
                                "__kernel void Second(__global int* out) { out[0] = 2; }\n";

class ClwReferenceCount : public ::testing::Test
{
protected:
    CLWContext context = clw_test::MakeContext();
};

TEST_F(ClwReferenceCount, DeviceCopiesAssignmentsAndDestructionCountOnSubDevices)
{
    std::vector<cl_device_id> subs = clw_test::MakeSubDevices();
    cl_device_id h1 = subs[0];
    cl_device_id h2 = subs[1];
    ASSERT_EQ(ReferenceCount(h1), 1u);
    {
        CLWDevice a(h1);
        EXPECT_EQ(ReferenceCount(h1), 2u);
        {
            CLWDevice copy(a);
            EXPECT_EQ(ReferenceCount(h1), 3u);
        }
        EXPECT_EQ(ReferenceCount(h1), 2u);

        CLWDevice b(h2);
        EXPECT_EQ(ReferenceCount(h2), 2u);
        a = b; // releases h1 once, retains h2 once
        EXPECT_EQ(ReferenceCount(h1), 1u);
        EXPECT_EQ(ReferenceCount(h2), 3u);
        EXPECT_EQ(a.GetID(), h2);

        CLWDevice& alias = a;
        a = alias;
        EXPECT_EQ(ReferenceCount(h2), 3u);
        EXPECT_EQ(a.GetID(), h2);
    }
    EXPECT_EQ(ReferenceCount(h1), 1u);
    EXPECT_EQ(ReferenceCount(h2), 1u);
    clReleaseDevice(h1);
    clReleaseDevice(h2);
}

TEST_F(ClwReferenceCount, ContextFactoryLeavesAsManyReferencesAsAHandBuiltTwin)
{
    // The twin: one context, one queue on it, each with a single owner.
    cl_device_id device = clw_test::FirstDevice();
    cl_int status = CL_SUCCESS;
    cl_context twin = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &status);
    ASSERT_EQ(status, CL_SUCCESS);
    cl_command_queue twinQueue = clCreateCommandQueue(twin, device, 0, &status);
    ASSERT_EQ(status, CL_SUCCESS);
    const cl_uint twinCount = ReferenceCount(twin);
    clReleaseCommandQueue(twinQueue);
    clReleaseContext(twin);

    cl_context raw = nullptr;
    cl_command_queue rawQueue = nullptr;
    {
        CLWContext created = CLWContext::Create(CLWDevice(device), nullptr);
        raw = created;
        rawQueue = created.GetCommandQueue(0);
        EXPECT_EQ(ReferenceCount(raw), twinCount);
        EXPECT_EQ(ReferenceCount(rawQueue), 1u);

        clRetainContext(raw); // a reference of the test's own, to look after the end
        clRetainCommandQueue(rawQueue);
    }
    // The wrapper, its queue and everything they held are gone: only the test's own
    // references remain.
    EXPECT_EQ(ReferenceCount(rawQueue), 1u);
    clReleaseCommandQueue(rawQueue);
    EXPECT_EQ(ReferenceCount(raw), 1u);
    clReleaseContext(raw);
}

TEST_F(ClwReferenceCount, ContextCopiesShareHandleDevicesAndQueues)
{
    cl_context raw = context;
    cl_command_queue queue = context.GetCommandQueue(0);
    const cl_uint contextCount = ReferenceCount(raw);
    const cl_uint queueCount = ReferenceCount(queue);
    {
        CLWContext copy(context);
        EXPECT_EQ(ReferenceCount(raw), contextCount + 1);
        EXPECT_EQ(ReferenceCount(queue), queueCount + 1);
        EXPECT_EQ(static_cast<cl_command_queue>(copy.GetCommandQueue(0)), queue);
    }
    EXPECT_EQ(ReferenceCount(raw), contextCount);
    EXPECT_EQ(ReferenceCount(queue), queueCount);
}

TEST_F(ClwReferenceCount, ContextAssignmentReleasesTheOldAndRetainsTheNew)
{
    CLWContext other = clw_test::MakeContext();
    cl_context h1 = context;
    cl_context h2 = other;
    const cl_uint count1 = ReferenceCount(h1);
    const cl_uint count2 = ReferenceCount(h2);

    CLWContext a(context);
    EXPECT_EQ(ReferenceCount(h1), count1 + 1);
    a = other;
    EXPECT_EQ(ReferenceCount(h1), count1);
    EXPECT_EQ(ReferenceCount(h2), count2 + 1);

    CLWContext& alias = a;
    a = alias;
    EXPECT_EQ(ReferenceCount(h2), count2 + 1);
    EXPECT_EQ(static_cast<cl_context>(a), h2);
}

TEST_F(ClwReferenceCount, DefaultConstructedWrappersHoldNothingAndCopyFreely)
{
    CLWContext emptyContext;
    CLWContext copy(emptyContext);
    copy = emptyContext;
    EXPECT_EQ(static_cast<cl_context>(copy), nullptr);
    EXPECT_EQ(copy.GetDeviceCount(), 0u);

    CLWProgram emptyProgram;
    CLWProgram programCopy(emptyProgram);
    EXPECT_EQ(static_cast<cl_program>(programCopy), nullptr);
    EXPECT_EQ(programCopy.GetKernelCount(), 0u);

    CLWKernel nullKernel(static_cast<cl_kernel>(nullptr));
    CLWKernel kernelCopy(nullKernel);
    EXPECT_EQ(static_cast<cl_kernel>(kernelCopy), nullptr);

    CLWBuffer<float> emptyBuffer;
    CLWBuffer<float> bufferCopy(emptyBuffer);
    EXPECT_EQ(static_cast<cl_mem>(bufferCopy), nullptr);
    EXPECT_EQ(bufferCopy.GetElementCount(), 0u);

    // Assigning a wrapper that holds a handle to an empty one only retains.
    cl_context raw = context;
    const cl_uint before = ReferenceCount(raw);
    emptyContext = context;
    EXPECT_EQ(ReferenceCount(raw), before + 1);
}

TEST_F(ClwReferenceCount, CommandQueueFactoryHoldsExactlyOneReference)
{
    cl_command_queue raw = nullptr;
    {
        CLWCommandQueue queue = CLWCommandQueue::Create(context.GetDevice(0), context);
        raw = queue;
        EXPECT_EQ(ReferenceCount(raw), 1u);
        CLWCommandQueue copy = queue;
        EXPECT_EQ(ReferenceCount(raw), 2u);
        clRetainCommandQueue(raw);
    }
    EXPECT_EQ(ReferenceCount(raw), 1u);
    clReleaseCommandQueue(raw);
}

TEST_F(ClwReferenceCount, ProgramFactoryLeavesAsManyReferencesAsAHandBuiltTwin)
{
    // The twin: the same source built by hand, with its kernels created and held.
    const char* source = kTwoKernels;
    cl_device_id device = context.GetDevice(0).GetID();
    cl_int status = CL_SUCCESS;
    cl_program twin = clCreateProgramWithSource(context, 1, &source, nullptr, &status);
    ASSERT_EQ(status, CL_SUCCESS);
    ASSERT_EQ(clBuildProgram(twin, 1, &device, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel twinKernels[2] = {};
    ASSERT_EQ(clCreateKernelsInProgram(twin, 2, twinKernels, nullptr), CL_SUCCESS);
    const cl_uint twinCount = ReferenceCount(twin);
    clReleaseKernel(twinKernels[0]);
    clReleaseKernel(twinKernels[1]);
    clReleaseProgram(twin);

    cl_program raw = nullptr;
    {
        CLWProgram program = clw_test::Build(context, kTwoKernels);
        raw = program;
        EXPECT_EQ(ReferenceCount(raw), twinCount);
        {
            CLWProgram copy(program);
            EXPECT_EQ(ReferenceCount(raw), twinCount + 1);
        }
        EXPECT_EQ(ReferenceCount(raw), twinCount);
        clRetainProgram(raw);
    }
    EXPECT_EQ(ReferenceCount(raw), 1u);
    clReleaseProgram(raw);
}

TEST_F(ClwReferenceCount, StoredKernelsHoldOneReferenceAndLookupsOneMore)
{
    CLWProgram program = clw_test::Build(context, kTwoKernels);
    CLWKernel first = program.GetKernel("First");
    cl_kernel raw = first;
    EXPECT_EQ(ReferenceCount(raw), 2u); // the program's map and `first`
    {
        CLWKernel again = program.GetKernel("First");
        EXPECT_EQ(ReferenceCount(raw), 3u);
        CLWProgram programCopy(program); // copying the map retains every kernel
        EXPECT_EQ(ReferenceCount(raw), 4u);
    }
    EXPECT_EQ(ReferenceCount(raw), 2u);
    program = CLWProgram();
    EXPECT_EQ(ReferenceCount(raw), 1u);
}

TEST_F(ClwReferenceCount, KernelFactoryAdoptsTheCreationReference)
{
    CLWProgram program = clw_test::Build(context, kTwoKernels);
    cl_int status = CL_SUCCESS;
    cl_kernel raw = clCreateKernel(program, "Second", &status);
    ASSERT_EQ(status, CL_SUCCESS);
    {
        CLWKernel kernel = CLWKernel::Create(raw);
        EXPECT_EQ(ReferenceCount(raw), 1u);
        CLWKernel copy = kernel;
        EXPECT_EQ(ReferenceCount(raw), 2u);
        clRetainKernel(raw);
    }
    EXPECT_EQ(ReferenceCount(raw), 1u);
    clReleaseKernel(raw);
}

TEST_F(ClwReferenceCount, BufferFactoryCopiesAndAssignments)
{
    CLWBuffer<cl_int> b1 = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 4, nullptr);
    CLWBuffer<cl_int> b2 = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 8, nullptr);
    cl_mem h1 = b1;
    cl_mem h2 = b2;
    EXPECT_EQ(ReferenceCount(h1), 1u);
    EXPECT_EQ(ReferenceCount(h2), 1u);

    CLWBuffer<cl_int> a(b1);
    EXPECT_EQ(ReferenceCount(h1), 2u);
    a = b2; // releases h1 once, retains h2 once
    EXPECT_EQ(ReferenceCount(h1), 1u);
    EXPECT_EQ(ReferenceCount(h2), 2u);
    EXPECT_EQ(a.GetElementCount(), 8u);

    CLWBuffer<cl_int>& alias = a;
    a = alias;
    EXPECT_EQ(ReferenceCount(h2), 2u);

    // Destroying the first of two copies leaves the other usable.
    b2 = CLWBuffer<cl_int>();
    EXPECT_EQ(ReferenceCount(h2), 1u);
    const cl_int pattern = 5;
    EXPECT_EQ(clEnqueueFillBuffer(context.GetCommandQueue(0), a, &pattern, sizeof pattern, 0,
                                  8 * sizeof(cl_int), 0, nullptr, nullptr),
              CL_SUCCESS);
    EXPECT_EQ(clw_test::ReadInts(context, a, 8), std::vector<cl_int>(8, 5));

    // Moving is copying: the source keeps its reference.
    CLWBuffer<cl_int> moved(std::move(a));
    EXPECT_EQ(ReferenceCount(h2), 2u);
    EXPECT_EQ(static_cast<cl_mem>(a), h2);
}

TEST_F(ClwReferenceCount, EventFactoryAdoptsTheCreationReference)
{
    cl_int status = CL_SUCCESS;
    cl_event raw = clCreateUserEvent(context, &status);
    ASSERT_EQ(status, CL_SUCCESS);
    {
        CLWEvent event = CLWEvent::Create(raw);
        EXPECT_EQ(ReferenceCount(raw), 1u);
        CLWEvent copy = event;
        EXPECT_EQ(ReferenceCount(raw), 2u);
        clRetainEvent(raw);
    }
    EXPECT_EQ(ReferenceCount(raw), 1u);
    clSetUserEventStatus(raw, CL_COMPLETE);
    clReleaseEvent(raw);

    CLWEvent empty = CLWEvent::Create(nullptr);
    EXPECT_EQ(static_cast<cl_event>(empty), nullptr);
}

TEST_F(ClwReferenceCount, LaunchEventCopiesCountLikeAnyOther)
{
    CLWProgram program = clw_test::Build(context, kTwoKernels);
    CLWBuffer<cl_int> out = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 1, nullptr);
    CLWKernel kernel = program.GetKernel("First");
    ASSERT_EQ(kernel.SetArg(0, out), CL_SUCCESS);
    const size_t one[2] = {1, 1};
    CLWEvent event = context.Launch2D(0, one, one, kernel);
    context.Finish(0);
    cl_event raw = event;
    ASSERT_NE(raw, nullptr);
    // The runtime may still hold the event of a finished command for a while, so only
    // the differences are the wrappers'.
    const cl_uint before = ReferenceCount(raw);
    {
        CLWEvent copy(event);
        EXPECT_EQ(ReferenceCount(raw), before + 1);
    }
    EXPECT_EQ(ReferenceCount(raw), before);
}

} // namespace
