// Vectors for the big arrays of Commit: new elements are left uninitialised (the passes that
// fill them run in parallel; zeroing them first would cost a pass of its own on one thread),
// big blocks are asked for in huge pages where the system offers them, which spares most of
// the page faults of touching fresh memory, and blocks from kPageAlignedBytes on start on a
// page, as OpenCL implementations want of host memory that their devices read in place
// (scene_buffers.h).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace RadeonRays::detail
{

// Blocks of at least this many bytes are aligned to and advised as huge pages.
constexpr std::size_t kHugePageBytes = std::size_t(2) << 20;
// Blocks of at least this many bytes start on a page of kPageBytes.
constexpr std::size_t kPageAlignedBytes = std::size_t(64) << 10;
constexpr std::size_t kPageBytes = 4096;

template <typename T> struct DefaultInitAllocator
{
    using value_type = T;

    DefaultInitAllocator() = default;
    template <typename U> DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
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

    template <typename U> void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U> bool operator==(const DefaultInitAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U> bool operator!=(const DefaultInitAllocator<U>&) const noexcept
    {
        return false;
    }
};

template <typename T> using UninitVector = std::vector<T, DefaultInitAllocator<T>>;

} // namespace RadeonRays::detail
