#include "app/DeviceWatch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace device_watch
{
namespace
{

using Clock = std::chrono::steady_clock;

std::atomic<const char*> g_waitingFor{nullptr};
std::atomic<Clock::rep> g_since{0};

void Watch(bool endRun)
{
    const auto limit = std::chrono::seconds(kDeviceWaitSeconds);
    for (;;)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const char* what = g_waitingFor.load();
        const Clock::time_point since{Clock::duration(g_since.load())};
        if (!what || Clock::now() - since < limit || what != g_waitingFor.load())
        {
            continue;
        }
        std::fprintf(stderr, "vertexshadows: the device has not finished %s in %d s%s\n", what,
                     kDeviceWaitSeconds, endRun ? "; the run ends" : "");
        std::fflush(stderr);
        if (endRun)
        {
            // The device still runs the kernel: releasing its objects would wait for it.
            std::_Exit(1);
        }
        return; // said once
    }
}

} // namespace

void Start(bool endRun)
{
    static std::atomic<bool> started{false};
    if (!started.exchange(true))
    {
        std::thread(Watch, endRun).detach();
    }
}

Wait::Wait(const char* what)
{
    g_since.store(Clock::now().time_since_epoch().count());
    g_waitingFor.store(what);
}

Wait::~Wait()
{
    g_waitingFor.store(nullptr);
}

} // namespace device_watch
