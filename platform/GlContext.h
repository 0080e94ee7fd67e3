#pragma once
// The native OpenGL context of the demo: GLX on an X11 window.
//
// The window system side of the program lives here and nowhere else, so that the
// rest of the code only sees "a context that can be made current and swapped" and,
// for OpenCL sharing, the context properties that name this context to OpenCL.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform
{

// How long DisplayProblem waits for the X server's reply.
constexpr int kDisplayAnswerSeconds = 5;

// Whether the X display that DISPLAY names answers within kDisplayAnswerSeconds. Empty
// when it does; otherwise why not, as a sentence that names the display. Qt's own reaction to a
// missing display is an abort, so the program asks here before it builds its application object.
std::string DisplayProblem();

class GlContext
{
public:
    // A double-buffered RGBA context with 24 depth and 8 stencil bits on an existing
    // X11 window (a Qt widget's winId()). Made current on the calling thread and with
    // GLEW initialised when it returns. Throws std::runtime_error when no such context
    // can be had.
    static std::unique_ptr<GlContext> CreateForWindow(unsigned long window);

    // The same kind of context on a small top-level window of its own, width x height
    // pixels: for tests, benchmarks and tools that need OpenGL but no window of Qt's.
    static std::unique_ptr<GlContext> CreateHidden(int width, int height);

    virtual ~GlContext() = default;
    // A context owns its X connection, window and GLX context: one owner, no copies.
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    virtual void MakeCurrent() = 0;
    virtual void SwapBuffers() = 0;
    // 0 turns vertical synchronisation off. Uses whichever GLX swap-control extension
    // the driver offers; does nothing where there is none.
    virtual void SetSwapInterval(int interval) = 0;
    // Keeps the drawable the size of its host widget where the context drew into a
    // child window of its own; otherwise does nothing.
    virtual void Resize(int width, int height) = 0;

    // The name/value pairs of cl_context_properties (an intptr_t) that make an OpenCL
    // context share objects with this one: its native context and display, under the
    // window system's property names. No terminating zero: the caller adds the platform
    // and ends the list.
    virtual std::vector<std::intptr_t> OpenClSharingProperties() const = 0;

protected:
    GlContext() = default;
};

} // namespace platform
