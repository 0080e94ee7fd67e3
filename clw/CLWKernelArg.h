#pragma once
// A kernel argument as a tagged value: what kind of value it is, and the value itself in
// a payload big enough for the largest kind. CLWKernel::SetArg(index, arg) turns the
// kind into the byte size that clSetKernelArg is given.
#include <CL/cl.h>

#include <cstring>
#include <type_traits>

template <typename T> class CLWBuffer;

class CLWKernelArg
{
public:
    // The kinds and the bytes each passes to clSetKernelArg. The numbers are part of
    // the value's meaning (they are what GetKind() reports), so they never change.
    enum Kind : cl_int
    {
        kMemory = 0, // a memory-object handle (cl_mem), 8 bytes
        kInt = 1,    // cl_int, 4 bytes
        kUInt = 2,   // cl_uint, 4 bytes
        kFloat = 3,  // cl_float, 4 bytes
        kFloat2 = 4, // cl_float2, 8 bytes
        kFloat4 = 5, // cl_float4 (and cl_float3, which OpenCL passes as 16 bytes), 16 bytes
        kULong = 6,  // cl_ulong, 8 bytes
        kLocal = 7,  // a __local buffer: its byte count is the size, no value is passed
    };

    // The two kinds the demo builds are implicit, so that a buffer or a count can be
    // handed straight to SetArg.
    CLWKernelArg(cl_mem memory) : CLWKernelArg(kMemory, &memory, sizeof memory) {}
    template <typename T>
    CLWKernelArg(const CLWBuffer<T>& buffer) : CLWKernelArg(static_cast<cl_mem>(buffer))
    {
    }
    CLWKernelArg(cl_int value) : CLWKernelArg(kInt, &value, sizeof value) {}
    // Any other number would be converted to cl_int silently (a float truncated, a
    // size_t cut to 32 bits) and reach a kernel that expects something else. Refusing
    // them makes the caller say which kind is meant: a cast to cl_int, or UInt, Float...
    template <typename T,
              typename = std::enable_if_t<std::is_arithmetic_v<T> && !std::is_same_v<T, cl_int>>>
    CLWKernelArg(T value) = delete;

    // The other kinds are named, so that an integer literal never silently becomes a
    // float or a local-memory size.
    static CLWKernelArg UInt(cl_uint value) { return CLWKernelArg(kUInt, &value, sizeof value); }
    static CLWKernelArg Float(cl_float value) { return CLWKernelArg(kFloat, &value, sizeof value); }
    static CLWKernelArg Float2(cl_float2 value)
    {
        return CLWKernelArg(kFloat2, &value, sizeof value);
    }
    static CLWKernelArg Float4(cl_float4 value)
    {
        return CLWKernelArg(kFloat4, &value, sizeof value);
    }
    static CLWKernelArg ULong(cl_ulong value) { return CLWKernelArg(kULong, &value, sizeof value); }
    static CLWKernelArg Local(cl_uint byteCount)
    {
        return CLWKernelArg(kLocal, &byteCount, sizeof byteCount);
    }

    Kind GetKind() const { return m_kind; }
    // The payload: the value in its first bytes, zeros after it.
    const void* GetPayload() const { return m_payload; }

    // The byte size clSetKernelArg gets for this argument: fixed per kind, except for
    // kLocal, whose size is the number held in the payload's first 4 bytes.
    size_t GetByteSize() const;

private:
    CLWKernelArg(Kind kind, const void* value, size_t size) : m_kind(kind)
    {
        std::memcpy(m_payload, value, size);
    }

    Kind m_kind;
    alignas(16) unsigned char m_payload[16] = {};
};

// Kind 0 passes 8 bytes; that is the size of a handle on the 64-bit systems we build for.
static_assert(sizeof(cl_mem) == 8, "memory-object arguments are passed as 8 bytes");
static_assert(sizeof(cl_float4) == 16 && sizeof(cl_float3) == 16, "kFloat4 passes 16 bytes");
