// Splitting a loop over the host's cores, for the passes of Commit over every triangle.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace RadeonRays::detail
{

// Loops of fewer items run on the calling thread: starting a thread costs more.
constexpr std::size_t kParallelForMin = 16384;

// How many parts ParallelFor splits a loop of n items into.
inline unsigned ParallelParts(std::size_t n)
{
    if (n < kParallelForMin)
        return 1;
    return std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
}

// Runs body(part, begin, end) on ParallelParts(n) consecutive parts of [0, n), the first on
// the calling thread, and returns when all are done; the first exception thrown is rethrown.
template <typename Body> void ParallelFor(std::size_t n, Body&& body)
{
    const unsigned parts = ParallelParts(n);
    std::vector<std::thread> threads;
    std::vector<std::exception_ptr> failures(parts);
    auto run = [&](unsigned part)
    {
        try
        {
            body(part, n * part / parts, n * (part + 1) / parts);
        }
        catch (...)
        {
            failures[part] = std::current_exception();
        }
    };
    for (unsigned part = 1; part < parts; ++part)
        threads.emplace_back(run, part);
    run(0);
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

} // namespace RadeonRays::detail
