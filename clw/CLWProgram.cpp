#include "clw/CLWProgram.h"

#include "clw/CLWException.h"
#include "clw/InfoQuery.h"
#include "util/ErrorNote.h"
#include "util/LoadFileContents.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// Gives back an OpenCL creation reference when it goes out of scope, however the scope
// is left: the program factory must release its creation reference whether wrapping
// the program succeeded or threw.
class ProgramCreationReference
{
public:
    explicit ProgramCreationReference(cl_program program) : m_program(program) {}
    ProgramCreationReference(const ProgramCreationReference&) = delete;
    ProgramCreationReference& operator=(const ProgramCreationReference&) = delete;
    ~ProgramCreationReference() { clReleaseProgram(m_program); }

private:
    cl_program m_program;
};

std::string BuildLog(cl_program program, cl_device_id device)
{
    // The statuses are not examined: the log only decorates a failure that is already
    // being reported, and an unreadable log becomes an empty message.
    size_t size = 0;
    clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
    std::vector<char> log(size + 1, '\0');
    clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
    return std::string(log.data());
}

} // namespace

CLWProgram::CLWProgram(cl_program program) : ReferenceCounter(program)
{
    cl_uint count = 0;
    cl_int status = clCreateKernelsInProgram(program, 0, nullptr, &count);
    // The count is tested before the status, so a failing query that leaves the count
    // at zero reads as "no kernels".
    if (count == 0)
    {
        throw CLWException(CL_DEVICE_NOT_AVAILABLE, "clCreateKernelsInProgram return 0 kernels");
    }
    ThrowIfFailed(status, "clCreateKernelsInProgram failed");

    std::vector<cl_kernel> handles(count, nullptr);
    ThrowIfFailed(clCreateKernelsInProgram(program, count, handles.data(), nullptr),
                  "clCreateKernelsInProgram failed");

    // Every kernel is adopted before any name is asked for, so that a failing name
    // query still leaves each kernel with an owner that will release it.
    std::vector<CLWKernel> kernels;
    for (cl_kernel handle : handles)
    {
        kernels.push_back(CLWKernel::Create(handle));
    }
    for (const CLWKernel& kernel : kernels)
    {
        const std::string name =
            clw_detail::QueryText(clGetKernelInfo, static_cast<cl_kernel>(kernel),
                                  CL_KERNEL_FUNCTION_NAME, "clGetKernelInfo failed");
        m_kernels.insert_or_assign(name, kernel);
    }
    // If this constructor throws, the base and the map are destroyed as usual, which
    // releases the program reference and every kernel taken so far.
}

CLWProgram::~CLWProgram() = default;

CLWProgram CLWProgram::CreateFromFile(const char* fileName, const char* buildOptions,
                                      CLWContext context)
{
    std::vector<char> source;
    const std::string file = "\"" + std::string(fileName) + "\"";
    try
    {
        LoadFileContents(std::string(fileName), source, false);
    }
    catch (const std::runtime_error& e)
    {
        // The message names the file where it gives a reason, not where it cannot open it.
        if (std::string(e.what()).find(file) != std::string::npos)
        {
            throw;
        }
        throw NotedError<std::runtime_error>(e, "the file is the kernel source " + file);
    }
    if (source.empty())
    {
        // OpenCL's refusal of an empty source would say less than this.
        throw std::runtime_error("the kernel source " + file + " is empty");
    }
    try
    {
        return CreateFromSource(source.data(), source.size(), buildOptions, context);
    }
    catch (const CLWException& e)
    {
        throw NotedError<CLWException>(e, "in the kernel source " + file);
    }
}

CLWProgram CLWProgram::CreateFromSource(const char* source, size_t size, const char* buildOptions,
                                        CLWContext context)
{
    cl_int status = CL_SUCCESS;
    cl_program program = clCreateProgramWithSource(context, 1, &source, &size, &status);
    ThrowIfFailed(status, "clCreateProgramWithSource failed");
    ProgramCreationReference creationReference(program);

    std::vector<cl_device_id> devices;
    for (unsigned i = 0; i < context.GetDeviceCount(); ++i)
    {
        devices.push_back(context.GetDevice(i).GetID());
    }
    status = clBuildProgram(program, static_cast<cl_uint>(devices.size()), devices.data(),
                            buildOptions, nullptr, nullptr);
    if (status != CL_SUCCESS)
    {
        // Only the first device's log: with one device (the demo's case) that is the
        // whole story, and with several the first failure is usually the same for all.
        throw CLWException(status, BuildLog(program, devices.front()));
    }
    return CLWProgram(program);
}

CLWKernel CLWProgram::GetKernel(const std::string& name) const
{
    auto found = m_kernels.find(name);
    if (found == m_kernels.end())
    {
        throw NotedError<CLWException>(
            CLWException(CL_INVALID_KERNEL_NAME, "No such kernel in program"),
            "the kernel asked for is \"" + name + "\"");
    }
    return found->second;
}
