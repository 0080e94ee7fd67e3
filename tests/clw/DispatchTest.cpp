// The commands of the shadow pass: two-dimensional launches, waiting for a queue, and the
// OpenGL hand-over, which a context without OpenGL sharing refuses.
#include "ClTestSupport.h"

#include <gtest/gtest.h>

namespace
{

const char* const kKernels = R"CL(
__kernel void Index(__global int* out, int width)
{
    int x = get_global_id(0);
    int y = get_global_id(1);
    out[y * width + x] = y * width + x + 1;
}
__kernel void Slow(__global int* out, int rounds)
{
    int value = 0;
    for (int i = 0; i < rounds; ++i)
        value = value * 1103515245 + 12345;
    out[get_global_id(0)] = value == 0x7fffffff ? -1 : 1;
}
)CL";

class ClwDispatch : public ::testing::Test
{
protected:
    CLWContext context = clw_test::MakeContext();
    CLWProgram program = clw_test::Build(context, kKernels);
    CLWBuffer<cl_int> out = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 64 * 64, nullptr);
};

std::vector<cl_int> OneToN(size_t n)
{
    std::vector<cl_int> values(n);
    for (size_t i = 0; i < n; ++i)
    {
        values[i] = static_cast<cl_int>(i + 1);
    }
    return values;
}

// Runs `call`, which must throw CLWException with exactly `message` and `status`.
template <typename Call> void ExpectClwException(Call call, const char* message, cl_int status)
{
    try
    {
        call();
        ADD_FAILURE() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), message);
        EXPECT_EQ(error.GetStatus(), status);
    }
}

cl_int ExecutionStatus(cl_event event)
{
    cl_int status = 1;
    clGetEventInfo(event, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof status, &status, nullptr);
    return status;
}

TEST_F(ClwDispatch, A64By64LaunchInGroupsOfOneWritesEveryElement)
{
    CLWKernel index = program.GetKernel("Index");
    ASSERT_EQ(index.SetArg(0, out), CL_SUCCESS);
    ASSERT_EQ(index.SetArg(1, 64), CL_SUCCESS);
    const size_t global[2] = {64, 64};
    const size_t local[2] = {1, 1};
    CLWEvent event = context.Launch2D(0, global, local, index);
    EXPECT_NE(static_cast<cl_event>(event), nullptr);
    context.Finish(0);
    EXPECT_EQ(clw_test::ReadInts(context, out, 64 * 64), OneToN(64 * 64));
}

TEST_F(ClwDispatch, FinishReturnsOnlyAfterTheKernelHasCompleted)
{
    CLWKernel slow = program.GetKernel("Slow");
    ASSERT_EQ(slow.SetArg(0, out), CL_SUCCESS);
    ASSERT_EQ(slow.SetArg(1, 200000), CL_SUCCESS);
    const size_t global[2] = {64, 1};
    const size_t local[2] = {1, 1};
    CLWEvent event = context.Launch2D(0, global, local, slow);
    context.Finish(0);
    // Asked without waiting: the command is already complete.
    EXPECT_EQ(ExecutionStatus(event), CL_COMPLETE);
    EXPECT_EQ(clw_test::ReadInts(context, out, 64), std::vector<cl_int>(64, 1));
}

TEST_F(ClwDispatch, DroppingTheLaunchEventDoesNotCancelTheKernel)
{
    CLWKernel index = program.GetKernel("Index");
    ASSERT_EQ(index.SetArg(0, out), CL_SUCCESS);
    ASSERT_EQ(index.SetArg(1, 64), CL_SUCCESS);
    const size_t global[2] = {64, 64};
    const size_t local[2] = {1, 1};
    context.Launch2D(0, global, local, index); // the event dies here, as in the frame loop
    context.Finish(0);
    EXPECT_EQ(clw_test::ReadInts(context, out, 64 * 64), OneToN(64 * 64));
}

TEST_F(ClwDispatch, ALaunchTheRuntimeRejectsThrows)
{
    CLWKernel index = program.GetKernel("Index");
    ASSERT_EQ(index.SetArg(0, out), CL_SUCCESS);
    ASSERT_EQ(index.SetArg(1, 64), CL_SUCCESS);
    // 63 is not a multiple of the group size 2.
    const size_t global[2] = {63, 64};
    const size_t local[2] = {2, 2};
    ExpectClwException([&] { context.Launch2D(0, global, local, index); },
                       "clEnqueueNDRangeKernel failed", CL_INVALID_WORK_GROUP_SIZE);
}

TEST_F(ClwDispatch, ALaunchWithArgumentsMissingThrows)
{
    CLWKernel index = program.GetKernel("Index");
    const size_t one[2] = {1, 1};
    ExpectClwException([&] { context.Launch2D(0, one, one, index); },
                       "clEnqueueNDRangeKernel failed", CL_INVALID_KERNEL_ARGS);
}

// The OpenGL hand-over needs a context made with OpenGL sharing properties. This one
// has none, and the runtime says so; the wrapper reports it with the call's name.
// (clCreateFromGLBuffer is not called here: PoCL, which has no sharing, ends the
// process in it instead of returning an error.)
TEST_F(ClwDispatch, AcquiringGLObjectsWithoutSharingThrows)
{
    ExpectClwException([&] { context.AcquireGLObjects(0, {out}); },
                       "clEnqueueAcquireGLObjects failed", CL_INVALID_CONTEXT);
}

TEST_F(ClwDispatch, ReleasingGLObjectsWithoutSharingThrows)
{
    ExpectClwException([&] { context.ReleaseGLObjects(0, {out}); },
                       "clEnqueueReleaseGLObjects failed", CL_INVALID_CONTEXT);
}

} // namespace
