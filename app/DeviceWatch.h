#pragma once
// A watch over the frame's waits for the device. A kernel that never ends would hold the
// GUI thread in its wait for ever, where nothing can notice it and no close request is
// read. Once started, the watch runs each wait on a thread of its own while the GUI
// thread waits for that; a wait that lasts kDeviceWaitSeconds is named on the log once.
// A run that ends by itself (--frames) then ends with status 1; an interactive one keeps
// its event loop turning while the wait goes on, so that a close request ends it with a
// line and status 1. Either way the device objects are not released: that would wait
// for the kernel too.
#include <functional>

namespace device_watch
{

constexpr int kDeviceWaitSeconds = 10;

// Starts the watch, once per process, on the GUI thread. endRun: end the process once a
// wait has lasted kDeviceWaitSeconds. Without it, Wait only calls its function.
void Start(bool endRun);

// Calls wait (a blocking wait for the device: a finish, an event's wait) as described
// above; what names what is waited for ("the kernel \"VertexShader\""). Rethrows what
// wait throws.
void Wait(const char* what, const std::function<void()>& wait);

// Whether a wait has lasted kDeviceWaitSeconds and goes on: the event loop then turns
// inside it, and no new frame may begin.
bool Stuck();

// Ends the program while Stuck, with the line that says so and status 1.
[[noreturn]] void EndStuck();

} // namespace device_watch
