#include "app/DeviceWatch.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

namespace device_watch
{
namespace
{

struct Watch
{
    bool endRun = false;
    std::mutex mutex;
    std::condition_variable changed;
    const std::function<void()>* job = nullptr; // the wait to run; null when idle
    bool done = false;
    std::exception_ptr error;
};

Watch* g_watch = nullptr;
const char* g_stuckOn = nullptr; // GUI thread only

void RunJobs(Watch& watch)
{
    std::unique_lock<std::mutex> lock(watch.mutex);
    for (;;)
    {
        watch.changed.wait(lock, [&] { return watch.job != nullptr && !watch.done; });
        const std::function<void()>& job = *watch.job;
        lock.unlock();
        std::exception_ptr error;
        try
        {
            job();
        }
        catch (...)
        {
            error = std::current_exception();
        }
        lock.lock();
        watch.error = error;
        watch.done = true;
        watch.changed.notify_all();
    }
}

} // namespace

void Start(bool endRun)
{
    if (g_watch)
    {
        return;
    }
    // Lives until the process ends, as its thread does.
    g_watch = new Watch;
    g_watch->endRun = endRun;
    std::thread(RunJobs, std::ref(*g_watch)).detach();
}

void Wait(const char* what, const std::function<void()>& wait)
{
    if (!g_watch)
    {
        wait();
        return;
    }
    Watch& watch = *g_watch;
    std::unique_lock<std::mutex> lock(watch.mutex);
    watch.job = &wait;
    watch.done = false;
    watch.changed.notify_all();
    if (!watch.changed.wait_for(lock, std::chrono::seconds(kDeviceWaitSeconds),
                                [&] { return watch.done; }))
    {
        std::fprintf(stderr, "vertexshadows: the device has not finished %s in %d s%s\n", what,
                     kDeviceWaitSeconds, watch.endRun ? "; the run ends" : "");
        std::fflush(stderr);
        if (watch.endRun)
        {
            std::_Exit(1);
        }
        g_stuckOn = what;
        while (!watch.done)
        {
            lock.unlock();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            lock.lock();
            watch.changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return watch.done; });
        }
        g_stuckOn = nullptr;
    }
    watch.job = nullptr;
    const std::exception_ptr error = watch.error;
    watch.error = nullptr;
    lock.unlock();
    if (error)
    {
        std::rethrow_exception(error);
    }
}

bool Stuck()
{
    return g_stuckOn != nullptr;
}

void EndStuck()
{
    std::fprintf(stderr,
                 "vertexshadows: closed while the device had not finished %s; ending without "
                 "releasing it\n",
                 g_stuckOn ? g_stuckOn : "a wait");
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace device_watch
