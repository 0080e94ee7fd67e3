#include "clw/CLWCommandQueue.h"

#include "clw/CLWContext.h"
#include "clw/CLWException.h"

CLWCommandQueue::~CLWCommandQueue() = default;

CLWCommandQueue CLWCommandQueue::Create(CLWDevice device, CLWContext context)
{
    cl_int status = CL_SUCCESS;
    // Profiling is on so that the events of the queue can be timed by anyone who
    // wants to; the queue stays in order, which the frame relies on.
    cl_command_queue queue =
        clCreateCommandQueue(context, device.GetID(), CL_QUEUE_PROFILING_ENABLE, &status);
    ThrowIfFailed(status, "clCreateCommandQueue failed");
    CLWCommandQueue result(queue);
    AdoptHandle(queue);
    return result;
}
