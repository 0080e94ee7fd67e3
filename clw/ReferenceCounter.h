#pragma once
// The base of every OpenCL wrapper: one handle, and OpenCL's reference count kept
// equal to the number of live wrapper objects that hold it.
//
// Wrappers are plain values. Each copy takes one OpenCL reference and gives it back
// when it dies, so a wrapper can be copied into lists, passed and returned by value
// without anyone having to think about clRetain/clRelease. There are deliberately no
// move operations: a moved-from wrapper would be a second kind of "empty" that every
// reader would have to keep in mind, and the copies cost one retain and one release.
#include <CL/cl.h>

namespace clw_detail
{
// Calls a retain or release function on a handle, unless either is null. A runtime
// test rather than `if constexpr`: GCC does not treat "this function's address is not
// null" as a constant expression. The compiler still folds it away.
template <typename Handle> inline void CallIfSet(cl_int (*function)(Handle), Handle handle)
{
    if (function != nullptr && handle != nullptr)
    {
        function(handle);
    }
}
} // namespace clw_detail

// Retain and Release are the OpenCL functions for the handle type (clRetainContext,
// clReleaseContext, ...). Passing nullptr for both turns the counting off, for handle
// types that OpenCL does not count (platform ids).
template <typename Handle, cl_int (*Retain)(Handle), cl_int (*Release)(Handle)>
class ReferenceCounter
{
public:
    // Holds nothing and makes no OpenCL call, now or when destroyed.
    ReferenceCounter() = default;

    // Takes one reference of its own on the handle (if it is not null). A factory that
    // got the handle from an OpenCL creation call must still give back the creation
    // reference afterwards; see AdoptHandle below.
    explicit ReferenceCounter(Handle handle) : m_handle(handle) { RetainHandle(); }

    ReferenceCounter(const ReferenceCounter& other) : m_handle(other.m_handle) { RetainHandle(); }

    ReferenceCounter& operator=(const ReferenceCounter& other)
    {
        // The self-test is what makes releasing before retaining safe: without it, the
        // release below could destroy the very object we are about to retain.
        if (this == &other)
        {
            return *this;
        }
        ReleaseHandle();
        m_handle = other.m_handle;
        RetainHandle();
        return *this;
    }

    ~ReferenceCounter() { ReleaseHandle(); }

    // The raw handle, for OpenCL calls. The count is not touched: the wrapper keeps
    // owning its reference.
    operator Handle() const { return m_handle; }

protected:
    // Gives back the reference that an OpenCL creation call handed to its caller, once
    // a wrapper has taken its own. Called by factories right after they wrap a newly
    // created handle, so that the wrapper ends up as the only owner.
    static void AdoptHandle(Handle created) { clw_detail::CallIfSet(Release, created); }

private:
    // The statuses of retain and release are not examined: they can only fail for an
    // invalid handle, and every handle here came from a successful OpenCL call.
    void RetainHandle() { clw_detail::CallIfSet(Retain, m_handle); }
    void ReleaseHandle() { clw_detail::CallIfSet(Release, m_handle); }

    Handle m_handle = nullptr;
};
