// The first thing to know about a machine: can this build reach the OpenCL runtime,
// make a context and build and run a kernel at all? (It also shows that the runtime
// works under the sanitizers the test build uses.)
#include "ClTestSupport.h"

#include <gtest/gtest.h>

TEST(ClwSmoke, ContextProgramAndLaunchWorkOnTheRealRuntime)
{
    CLWContext context = clw_test::MakeContext();
    CLWProgram program = clw_test::Build(
        context, "__kernel void Fill(__global int* out) { out[get_global_id(0)] = 7; }");
    CLWBuffer<cl_int> out = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 4, nullptr);
    CLWKernel fill = program.GetKernel("Fill");
    ASSERT_EQ(fill.SetArg(0, out), CL_SUCCESS);
    const size_t global[2] = {4, 1};
    const size_t local[2] = {1, 1};
    context.Launch2D(0, global, local, fill);
    context.Finish(0);
    EXPECT_EQ(clw_test::ReadInts(context, out, 4), (std::vector<cl_int>{7, 7, 7, 7}));
}
