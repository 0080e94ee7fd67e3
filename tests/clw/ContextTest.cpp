// Contexts and their queues: one in-order, profiling queue per device, in device order,
// and the property list passed through untouched.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

namespace
{

cl_device_id QueueDevice(cl_command_queue queue)
{
    cl_device_id device = nullptr;
    clGetCommandQueueInfo(queue, CL_QUEUE_DEVICE, sizeof device, &device, nullptr);
    return device;
}

TEST(ClwContext, OneDeviceGivesOneProfilingInOrderQueueOfThatDevice)
{
    cl_device_id device = clw_test::FirstDevice();
    CLWContext context = CLWContext::Create(CLWDevice(device), nullptr);
    ASSERT_EQ(context.GetDeviceCount(), 1u);
    EXPECT_EQ(context.GetDevice(0).GetID(), device);

    cl_command_queue queue = context.GetCommandQueue(0);
    EXPECT_EQ(QueueDevice(queue), device);
    cl_context queueContext = nullptr;
    clGetCommandQueueInfo(queue, CL_QUEUE_CONTEXT, sizeof queueContext, &queueContext, nullptr);
    EXPECT_EQ(queueContext, static_cast<cl_context>(context));
    cl_command_queue_properties properties = 0;
    clGetCommandQueueInfo(queue, CL_QUEUE_PROPERTIES, sizeof properties, &properties, nullptr);
    EXPECT_EQ(properties, static_cast<cl_command_queue_properties>(CL_QUEUE_PROFILING_ENABLE));
}

TEST(ClwContext, WithSeveralDevicesQueueIBelongsToDeviceI)
{
    std::vector<cl_device_id> subs = clw_test::MakeSubDevices();
    {
        // Reversed, so that the order given (not the runtime's) is what counts.
        CLWContext context = CLWContext::Create({CLWDevice(subs[1]), CLWDevice(subs[0])}, nullptr);
        ASSERT_EQ(context.GetDeviceCount(), 2u);
        EXPECT_EQ(context.GetDevice(0).GetID(), subs[1]);
        EXPECT_EQ(context.GetDevice(1).GetID(), subs[0]);
        EXPECT_EQ(QueueDevice(context.GetCommandQueue(0)), subs[1]);
        EXPECT_EQ(QueueDevice(context.GetCommandQueue(1)), subs[0]);
    }
    clReleaseDevice(subs[0]);
    clReleaseDevice(subs[1]);
}

TEST(ClwContext, ThePropertyListReachesOpenCLUnchanged)
{
    const cl_context_properties properties[] = {
        CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(clw_test::FirstPlatform()), 0};
    CLWContext context = CLWContext::Create(CLWDevice(clw_test::FirstDevice()), properties);
    std::vector<cl_context_properties> stored(3, -1);
    size_t size = 0;
    ASSERT_EQ(clGetContextInfo(context, CL_CONTEXT_PROPERTIES, stored.size() * sizeof(stored[0]),
                               stored.data(), &size),
              CL_SUCCESS);
    EXPECT_EQ(size, sizeof properties);
    EXPECT_EQ(stored, std::vector<cl_context_properties>(properties, properties + 3));
}

TEST(ClwContext, ANullPropertyListStaysNull)
{
    CLWContext context = clw_test::MakeContext();
    size_t size = 99;
    ASSERT_EQ(clGetContextInfo(context, CL_CONTEXT_PROPERTIES, 0, nullptr, &size), CL_SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST(ClwContext, ARefusedPropertyThrowsCreateContextFailed)
{
    // A property name OpenCL does not know.
    const cl_context_properties properties[] = {0x7777, 0, 0};
    try
    {
        CLWContext::Create(CLWDevice(clw_test::FirstDevice()), properties);
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clCreateContext failed");
        EXPECT_EQ(error.GetStatus(), CL_INVALID_PROPERTY);
    }
}

TEST(ClwContext, AnEmptyDeviceListIsRefusedByOpenCL)
{
    try
    {
        CLWContext::Create(std::vector<CLWDevice>{}, nullptr);
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clCreateContext failed");
        EXPECT_EQ(error.GetStatus(), CL_INVALID_VALUE);
    }
}

TEST(ClwContext, TheOriginalStaysUsableAfterACopyIsDestroyed)
{
    CLWContext context = clw_test::MakeContext();
    {
        CLWContext copy = context;
    }
    CLWProgram program =
        clw_test::Build(context, "__kernel void Set(__global int* out) { out[0] = 42; }");
    CLWBuffer<cl_int> out = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 1, nullptr);
    CLWKernel kernel = program.GetKernel("Set");
    ASSERT_EQ(kernel.SetArg(0, out), CL_SUCCESS);
    const size_t one[2] = {1, 1};
    context.Launch2D(0, one, one, kernel);
    context.Finish(0);
    EXPECT_EQ(clw_test::ReadInts(context, out, 1), std::vector<cl_int>{42});
}

TEST(ClwCommandQueue, CreateMakesAProfilingQueueForTheDevice)
{
    CLWContext context = clw_test::MakeContext();
    CLWCommandQueue queue = CLWCommandQueue::Create(context.GetDevice(0), context);
    EXPECT_EQ(QueueDevice(queue), context.GetDevice(0).GetID());
    EXPECT_NE(static_cast<cl_command_queue>(queue),
              static_cast<cl_command_queue>(context.GetCommandQueue(0)));
}

} // namespace
