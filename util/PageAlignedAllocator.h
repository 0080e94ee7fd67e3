#pragma once
// An allocator for big host arrays that an OpenCL device on the CPU reads in place
// (CL_MEM_USE_HOST_PTR): blocks from kPageAlignedBytes on start on a page, as such
// devices want of host memory they do not copy, and blocks from kHugePageBytes on are
// advised as huge pages, which spares most of the page faults of filling them and the
// TLB misses of the kernels that read them. Smaller blocks come from the standard
// allocator. Elements are constructed as std::allocator constructs them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

constexpr std::size_t kPageBytes = 4096;
constexpr std::size_t kPageAlignedBytes = std::size_t(64) << 10;
constexpr std::size_t kHugePageBytes = std::size_t(2) << 20;

template <typename T> struct PageAlignedAllocator
{
    using value_type = T;

    PageAlignedAllocator() = default;
    template <typename U> PageAlignedAllocator(const PageAlignedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kPageAlignedBytes)
            return std::allocator<T>().allocate(n);
        const bool huge = bytes >= kHugePageBytes;
        const std::size_t alignment = huge ? kHugePageBytes : kPageBytes;
        const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
        void* p = std::aligned_alloc(alignment, rounded);
        if (!p)
            throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (huge)
            madvise(p, rounded, MADV_HUGEPAGE); // advice only: without it, plain pages
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept
    {
        if (n * sizeof(T) < kPageAlignedBytes)
            std::allocator<T>().deallocate(p, n);
        else
            std::free(p);
    }

    template <typename U> bool operator==(const PageAlignedAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U> bool operator!=(const PageAlignedAllocator<U>&) const noexcept
    {
        return false;
    }
};

// Whether data starts on a page: what an array of this allocator does from
// kPageAlignedBytes on.
inline bool StartsOnPage(const void* data)
{
    return reinterpret_cast<std::uintptr_t>(data) % kPageBytes == 0;
}
