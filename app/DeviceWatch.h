#pragma once
// A watch over the frame's waits for the device, from a thread of its own. A kernel that
// never ends holds the GUI thread in its wait, where nothing else can notice it: the
// watch names it on the log once it has waited kDeviceWaitSeconds, and a run that ends
// by itself (--frames) is ended there with status 1, without releasing the device.
namespace device_watch
{

constexpr int kDeviceWaitSeconds = 10;

// Starts the watch, once per process. endRun: end the process after the report.
void Start(bool endRun);

// One wait for the device, from construction to destruction: what names what is waited
// for ("the kernel \"VertexShader\"", a static string). Waits do not nest.
class Wait
{
public:
    explicit Wait(const char* what);
    ~Wait();
    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;
};

} // namespace device_watch
