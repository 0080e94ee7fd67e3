#pragma once
#include <cstdint>

#include <unistd.h>

// The machine's physical memory in bytes, or 0 where the system does not say.
inline std::uint64_t MachineMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0
               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
               : 0;
}
