// Programs and kernels: building, the build log as the failure message, the kernels
// kept by name, lookups, and kernels that outlive their program.
#include "ClTestSupport.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace
{

// The build options the demo passes, blanks at both ends included.
const char* const kDemoBuildOptions = " -cl-mad-enable -cl-fast-relaxed-math -cl-std=CL1.2 -I . ";

const char* const kShaders =
    "__kernel void VertexShader(__global int* out, int value) { out[0] = value; }\n"
    "__kernel void ShadowShader(__global int* out) { out[0] = -1; }\n";

// Runs `kernel` as one work-item on queue `queueIndex` and reads out[0] back.
cl_int RunOnce(const CLWContext& context, const CLWKernel& kernel, const CLWBuffer<cl_int>& out,
               unsigned queueIndex = 0)
{
    const size_t one[2] = {1, 1};
    context.Launch2D(queueIndex, one, one, kernel);
    context.Finish(queueIndex);
    cl_int value = 0;
    clEnqueueReadBuffer(context.GetCommandQueue(queueIndex), out, CL_TRUE, 0, sizeof value, &value,
                        0, nullptr, nullptr);
    return value;
}

class ClwProgram : public ::testing::Test
{
protected:
    CLWContext context = clw_test::MakeContext();
    CLWBuffer<cl_int> out = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 1, nullptr);
};

TEST_F(ClwProgram, KeepsEveryKernelByItsFunctionName)
{
    CLWProgram program = clw_test::Build(context, kShaders);
    EXPECT_EQ(program.GetKernelCount(), 2u);
    CLWKernel vertex = program.GetKernel("VertexShader");
    CLWKernel shadow = program.GetKernel("ShadowShader");
    EXPECT_NE(static_cast<cl_kernel>(vertex), nullptr);
    EXPECT_NE(static_cast<cl_kernel>(shadow), static_cast<cl_kernel>(vertex));

    char name[64] = {};
    clGetKernelInfo(vertex, CL_KERNEL_FUNCTION_NAME, sizeof name, name, nullptr);
    EXPECT_STREQ(name, "VertexShader");
}

TEST_F(ClwProgram, AcceptsTheDemosBuildOptions)
{
    const std::string source = kShaders;
    CLWProgram program =
        CLWProgram::CreateFromSource(source.data(), source.size(), kDemoBuildOptions, context);
    char options[128] = {};
    clGetProgramBuildInfo(program, context.GetDevice(0).GetID(), CL_PROGRAM_BUILD_OPTIONS,
                          sizeof options, options, nullptr);
    // PoCL stores the options with the outer blanks trimmed.
    EXPECT_NE(std::string(kDemoBuildOptions).find(options), std::string::npos) << options;
    EXPECT_NE(std::string(options).find("-cl-std=CL1.2"), std::string::npos) << options;
    EXPECT_EQ(program.GetKernelCount(), 2u);
}

TEST_F(ClwProgram, BuildsOnlyTheGivenNumberOfCharacters)
{
    // No terminating zero is needed: whatever follows the given size is not source.
    const std::string source = std::string(kShaders) + "this is not OpenCL";
    CLWProgram program =
        CLWProgram::CreateFromSource(source.data(), std::string(kShaders).size(), "", context);
    EXPECT_EQ(program.GetKernelCount(), 2u);
}

TEST_F(ClwProgram, ASyntaxErrorThrowsTheBuildLogWithTheBuildStatus)
{
    try
    {
        clw_test::Build(context, "__kernel void Broken(__global int* out) { out[0] = nonsense; }");
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_EQ(error.GetStatus(), CL_BUILD_PROGRAM_FAILURE);
        const std::string message = error.what();
        // The message is the compiler's log itself, naming the fault; no call name.
        EXPECT_NE(message.find("nonsense"), std::string::npos) << message;
        EXPECT_EQ(message.find("clBuildProgram"), std::string::npos) << message;
    }
}

TEST_F(ClwProgram, ASourceWithoutKernelsThrowsMinusTwo)
{
    try
    {
        clw_test::Build(context, "int Helper(int x) { return x + 1; }");
        FAIL() << "no exception";
    }
    catch (const CLWException& error)
    {
        EXPECT_STREQ(error.what(), "clCreateKernelsInProgram return 0 kernels");
        EXPECT_EQ(error.GetStatus(), -2);
    }
}

TEST_F(ClwProgram, ANameInTheWrongCaseThrowsMinusFortySix)
{
    CLWProgram program = clw_test::Build(context, kShaders);
    for (const char* name : {"vertexshader", "VERTEXSHADER", "VertexShade", "VertexShaderX", ""})
    {
        try
        {
            program.GetKernel(name);
            FAIL() << "no exception for \"" << name << "\"";
        }
        catch (const CLWException& error)
        {
            EXPECT_STREQ(error.what(), "No such kernel in program");
            EXPECT_EQ(error.GetStatus(), -46);
            EXPECT_EQ(error.GetStatus(), CL_INVALID_KERNEL_NAME);
        }
    }
}

TEST_F(ClwProgram, TwoKernelsFetchedByOneNameShareTheirArguments)
{
    CLWProgram program = clw_test::Build(context, kShaders);
    CLWKernel first = program.GetKernel("VertexShader");
    ASSERT_EQ(first.SetArg(0, out), CL_SUCCESS);
    ASSERT_EQ(first.SetArg(1, 1234), CL_SUCCESS);

    CLWKernel second = program.GetKernel("VertexShader");
    EXPECT_EQ(static_cast<cl_kernel>(second), static_cast<cl_kernel>(first));
    EXPECT_EQ(RunOnce(context, second, out), 1234);
}

TEST_F(ClwProgram, AKernelOutlivesItsProgram)
{
    CLWKernel kernel;
    {
        CLWProgram program = clw_test::Build(context, kShaders);
        kernel = program.GetKernel("VertexShader");
    }
    ASSERT_EQ(kernel.SetArg(0, out), CL_SUCCESS);
    ASSERT_EQ(kernel.SetArg(1, 77), CL_SUCCESS);
    EXPECT_EQ(RunOnce(context, kernel, out), 77);
}

TEST_F(ClwProgram, CreateFromFileBuildsTheFilesSource)
{
    const test_support::ScratchDir dir;
    test_support::WriteFile(dir.Path("kernel.cl"), kShaders);
    CLWProgram program =
        CLWProgram::CreateFromFile(dir.Path("kernel.cl").c_str(), kDemoBuildOptions, context);
    CLWKernel shadow = program.GetKernel("ShadowShader");
    ASSERT_EQ(shadow.SetArg(0, out), CL_SUCCESS);
    EXPECT_EQ(RunOnce(context, shadow, out), -1);
}

TEST_F(ClwProgram, AMissingOrEmptyFileThrowsARuntimeErrorBeforeAnyOpenCLCall)
{
    // An empty context: any OpenCL call made with it would fail with a CLWException,
    // so a plain runtime_error shows that the file was read first.
    CLWContext noContext;
    const test_support::ScratchDir dir;
    test_support::WriteFile(dir.Path("empty.cl"), "");
    const std::pair<std::string, std::string> cases[] = {
        {"no/such/kernel.cl", "Cannot read the contents of a file"},
        {dir.Path("empty.cl"), "the kernel source \"" + dir.Path("empty.cl") + "\" is empty"},
    };
    for (const auto& [file, message] : cases)
    {
        try
        {
            CLWProgram::CreateFromFile(file.c_str(), kDemoBuildOptions, noContext);
            ADD_FAILURE() << "no exception for " << file;
        }
        catch (const CLWException&)
        {
            ADD_FAILURE() << "an OpenCL call was made for " << file;
        }
        catch (const std::runtime_error& error)
        {
            EXPECT_EQ(error.what(), message);
        }
    }
}

TEST(ClwProgramOnTwoDevices, IsBuiltForEveryDeviceOfTheContext)
{
    std::vector<cl_device_id> subs = clw_test::MakeSubDevices();
    {
        CLWContext context = CLWContext::Create({CLWDevice(subs[0]), CLWDevice(subs[1])}, nullptr);
        CLWProgram program = clw_test::Build(context, kShaders);

        // Asked device by device: PoCL reports the program's device list as the one
        // parent device of the two sub-devices.
        for (cl_device_id device : subs)
        {
            cl_build_status status = CL_BUILD_NONE;
            clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_STATUS, sizeof status, &status,
                                  nullptr);
            EXPECT_EQ(status, CL_BUILD_SUCCESS);
        }

        // And it runs on the second device's queue.
        CLWBuffer<cl_int> out = CLWBuffer<cl_int>::Create(context, CL_MEM_READ_WRITE, 1, nullptr);
        CLWKernel kernel = program.GetKernel("VertexShader");
        ASSERT_EQ(kernel.SetArg(0, out), CL_SUCCESS);
        ASSERT_EQ(kernel.SetArg(1, 9), CL_SUCCESS);
        EXPECT_EQ(RunOnce(context, kernel, out, 1), 9);
    }
    clReleaseDevice(subs[0]);
    clReleaseDevice(subs[1]);
}

} // namespace
