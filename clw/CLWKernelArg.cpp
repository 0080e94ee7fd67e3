#include "clw/CLWKernelArg.h"

size_t CLWKernelArg::GetByteSize() const
{
    switch (m_kind)
    {
    case kMemory:
    case kFloat2:
    case kULong:
        return 8;
    case kInt:
    case kUInt:
    case kFloat:
        return 4;
    case kFloat4:
        return 16;
    case kLocal:
    {
        cl_uint byteCount = 0;
        std::memcpy(&byteCount, m_payload, sizeof byteCount);
        return byteCount;
    }
    }
    return 0; // unreachable: every constructor sets one of the kinds above
}
