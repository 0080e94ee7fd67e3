#pragma once
// The event of an enqueued command. It only keeps the event alive; dropping it neither
// waits for nor cancels the command.
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

class CLWEvent : public ReferenceCounter<cl_event, clRetainEvent, clReleaseEvent>
{
public:
    CLWEvent() = default;
    // Takes a reference of its own on an existing event.
    explicit CLWEvent(cl_event event) : ReferenceCounter(event) {}
    CLWEvent(const CLWEvent&) = default;
    CLWEvent& operator=(const CLWEvent&) = default;
    virtual ~CLWEvent();

    // Adopts an event that an enqueue call returned: the wrapper ends up holding the
    // reference the call handed out, and no other. A null event gives an empty wrapper.
    static CLWEvent Create(cl_event event);
};
