#pragma once
// One OpenCL command queue: in order, with profiling enabled.
#include "clw/CLWDevice.h"
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

class CLWContext;

class CLWCommandQueue
    : public ReferenceCounter<cl_command_queue, clRetainCommandQueue, clReleaseCommandQueue>
{
public:
    CLWCommandQueue() = default;
    // Takes a reference of its own on an existing queue.
    explicit CLWCommandQueue(cl_command_queue queue) : ReferenceCounter(queue) {}
    CLWCommandQueue(const CLWCommandQueue&) = default;
    CLWCommandQueue& operator=(const CLWCommandQueue&) = default;
    virtual ~CLWCommandQueue();

    // Creates a queue for `device` in `context`. Throws CLWException with
    // "clCreateCommandQueue failed". The returned wrapper holds the only reference.
    static CLWCommandQueue Create(CLWDevice device, CLWContext context);
};
