// GLX implementation of platform::GlContext.
//
// The context talks to the X server over a connection of its own: window ids are
// server-wide, so it can render into a window that Qt created on its connection,
// and the Display* it hands to OpenCL is one that stays valid as long as it does.
#include "platform/GlContext.h"

#include <CL/cl_gl.h>
#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace platform
{
namespace
{

// Double-buffered RGBA with 24 depth and 8 stencil bits, drawable into a window.
const int kConfigAttributes[] = {GLX_X_RENDERABLE,
                                 True,
                                 GLX_DRAWABLE_TYPE,
                                 GLX_WINDOW_BIT,
                                 GLX_RENDER_TYPE,
                                 GLX_RGBA_BIT,
                                 GLX_X_VISUAL_TYPE,
                                 GLX_TRUE_COLOR,
                                 GLX_DOUBLEBUFFER,
                                 True,
                                 GLX_RED_SIZE,
                                 8,
                                 GLX_GREEN_SIZE,
                                 8,
                                 GLX_BLUE_SIZE,
                                 8,
                                 GLX_DEPTH_SIZE,
                                 24,
                                 GLX_STENCIL_SIZE,
                                 8,
                                 None};

bool HasExtension(const char* list, const char* name)
{
    // Extension lists are space-separated names; match whole names only.
    const size_t length = std::strlen(name);
    for (const char* p = list; p && (p = std::strstr(p, name)) != nullptr; p += length)
    {
        const bool startsName = p == list || p[-1] == ' ';
        const bool endsName = p[length] == ' ' || p[length] == '\0';
        if (startsName && endsName)
        {
            return true;
        }
    }
    return false;
}

// Turns X protocol errors into a flag for as long as it lives. Xlib's default handler
// ends the process on the first error, which is no way to report a bad window id.
class XErrorTrap
{
public:
    explicit XErrorTrap(Display* display) : m_display(display)
    {
        XSync(m_display, False);
        s_errorCode = 0;
        m_previous = XSetErrorHandler(&XErrorTrap::Record);
    }
    ~XErrorTrap()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // The first error since the trap was set, after the server has answered every request.
    int ErrorCode()
    {
        XSync(m_display, False);
        return s_errorCode;
    }

private:
    static int Record(Display*, XErrorEvent* event)
    {
        if (s_errorCode == 0)
        {
            s_errorCode = event->error_code;
        }
        return 0;
    }

    static int s_errorCode;
    Display* m_display;
    int (*m_previous)(Display*, XErrorEvent*) = nullptr;
};

int XErrorTrap::s_errorCode = 0;

class GlxContext final : public GlContext
{
public:
    GlxContext(unsigned long hostWindow, bool ownWindow, int width, int height)
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
        {
            const char* name = std::getenv("DISPLAY");
            throw std::runtime_error(name && *name
                                         ? std::string("cannot open the X display \"") + name + "\""
                                         : std::string("DISPLAY is not set"));
        }
        try
        {
            XErrorTrap trap(m_display);
            Create(hostWindow, ownWindow, width, height);
            if (const int error = trap.ErrorCode())
            {
                throw std::runtime_error("the X server refused the OpenGL set-up (X error " +
                                         std::to_string(error) + ")");
            }
        }
        catch (...)
        {
            Destroy();
            throw;
        }
    }

    ~GlxContext() override { Destroy(); }

    void MakeCurrent() override
    {
        glXMakeContextCurrent(m_display, m_drawable, m_drawable, m_context);
    }

    void SwapBuffers() override { glXSwapBuffers(m_display, m_drawable); }

    void SetSwapInterval(int interval) override
    {
        const char* extensions = glXQueryExtensionsString(m_display, DefaultScreen(m_display));
        if (HasExtension(extensions, "GLX_EXT_swap_control"))
        {
            auto swapInterval = reinterpret_cast<PFNGLXSWAPINTERVALEXTPROC>(
                glXGetProcAddress(reinterpret_cast<const GLubyte*>("glXSwapIntervalEXT")));
            swapInterval(m_display, m_drawable, interval);
        }
        else if (HasExtension(extensions, "GLX_MESA_swap_control"))
        {
            auto swapInterval = reinterpret_cast<int (*)(unsigned)>(
                glXGetProcAddress(reinterpret_cast<const GLubyte*>("glXSwapIntervalMESA")));
            swapInterval(static_cast<unsigned>(interval));
        }
        else if (interval > 0 && HasExtension(extensions, "GLX_SGI_swap_control"))
        {
            // The SGI form cannot turn synchronisation off, only set a positive interval.
            auto swapInterval = reinterpret_cast<int (*)(int)>(
                glXGetProcAddress(reinterpret_cast<const GLubyte*>("glXSwapIntervalSGI")));
            swapInterval(interval);
        }
    }

    void Resize(int width, int height) override
    {
        if (m_childWindow)
        {
            XResizeWindow(m_display, m_childWindow, width > 0 ? width : 1, height > 0 ? height : 1);
            XFlush(m_display);
        }
    }

    std::vector<std::intptr_t> OpenClSharingProperties() const override
    {
        return {CL_GL_CONTEXT_KHR, reinterpret_cast<std::intptr_t>(m_context), CL_GLX_DISPLAY_KHR,
                reinterpret_cast<std::intptr_t>(m_display)};
    }

private:
    void Create(unsigned long hostWindow, bool ownWindow, int width, int height)
    {
        int count = 0;
        GLXFBConfig* configs =
            glXChooseFBConfig(m_display, DefaultScreen(m_display), kConfigAttributes, &count);
        if (!configs || count == 0)
        {
            if (configs)
            {
                XFree(configs);
            }
            throw std::runtime_error(
                "no GLX framebuffer configuration with double-buffered RGBA, 24 depth "
                "and 8 stencil bits");
        }

        // A context can only be made current on a window of its own visual. Prefer a
        // configuration with the host window's visual and draw into that window itself;
        // where there is none, draw into a child window of the configuration's visual.
        GLXFBConfig config = configs[0];
        bool sharesVisual = false;
        if (!ownWindow)
        {
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(m_display, hostWindow, &attributes))
            {
                XFree(configs);
                throw std::runtime_error("the view's native window does not exist");
            }
            width = attributes.width;
            height = attributes.height;
            const VisualID hostVisual = XVisualIDFromVisual(attributes.visual);
            for (int i = 0; i < count && !sharesVisual; ++i)
            {
                int visualId = 0;
                glXGetFBConfigAttrib(m_display, configs[i], GLX_VISUAL_ID, &visualId);
                if (static_cast<VisualID>(visualId) == hostVisual)
                {
                    config = configs[i];
                    sharesVisual = true;
                }
            }
        }
        XFree(configs);

        if (sharesVisual)
        {
            m_drawable = hostWindow;
        }
        else
        {
            const Window parent = ownWindow ? DefaultRootWindow(m_display) : hostWindow;
            m_childWindow = CreateWindowFor(config, parent, width, height);
            m_drawable = m_childWindow;
        }

        m_context = glXCreateNewContext(m_display, config, GLX_RGBA_TYPE, nullptr, True);
        if (!m_context)
        {
            throw std::runtime_error("glXCreateNewContext failed");
        }
        if (!glXMakeContextCurrent(m_display, m_drawable, m_drawable, m_context))
        {
            throw std::runtime_error("cannot make the OpenGL context current");
        }
        glewExperimental = GL_TRUE;
        const GLenum glewStatus = glewInit();
        if (glewStatus != GLEW_OK)
        {
            throw std::runtime_error(std::string("GLEW initialisation failed: ") +
                                     reinterpret_cast<const char*>(glewGetErrorString(glewStatus)));
        }
    }

    Window CreateWindowFor(GLXFBConfig config, Window parent, int width, int height)
    {
        XVisualInfo* visual = glXGetVisualFromFBConfig(m_display, config);
        if (!visual)
        {
            throw std::runtime_error("the GLX configuration has no X visual");
        }
        m_colormap = XCreateColormap(m_display, parent, visual->visual, AllocNone);
        XSetWindowAttributes attributes{};
        attributes.colormap = m_colormap;
        attributes.border_pixel = 0;
        attributes.background_pixmap = None;
        const Window window =
            XCreateWindow(m_display, parent, 0, 0, width > 0 ? width : 1, height > 0 ? height : 1,
                          0, visual->depth, InputOutput, visual->visual,
                          CWColormap | CWBorderPixel | CWBackPixmap, &attributes);
        XFree(visual);
        // Mapped so that every driver renders into it; an own top-level window is only
        // ever used on a virtual or test display.
        XMapWindow(m_display, window);
        XSync(m_display, False);
        return window;
    }

    void Destroy()
    {
        if (!m_display)
        {
            return;
        }
        if (m_context)
        {
            if (glXGetCurrentContext() == m_context)
            {
                glXMakeContextCurrent(m_display, None, None, nullptr);
            }
            glXDestroyContext(m_display, m_context);
        }
        if (m_childWindow)
        {
            XDestroyWindow(m_display, m_childWindow);
        }
        if (m_colormap)
        {
            XFreeColormap(m_display, m_colormap);
        }
        XCloseDisplay(m_display);
        m_display = nullptr;
    }

    Display* m_display = nullptr;
    GLXContext m_context = nullptr;
    GLXDrawable m_drawable = 0;
    Window m_childWindow = 0;
    Colormap m_colormap = 0;
};

} // namespace

std::string DisplayProblem()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
    {
        return "cannot open the X display: DISPLAY is not set (./run starts a virtual X "
               "server when there is none)";
    }
    // Opening a display waits for the server's reply without a bound: a server that
    // accepts the connection and never answers (a stopped one) would hold start-up for
    // ever, before any window and without a word. The display is opened on a thread of
    // its own and given kDisplayAnswerSeconds; a thread still waiting then is left behind,
    // and the program ends.
    struct Answer
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        bool opened = false;
    };
    const auto answer = std::make_shared<Answer>();
    std::thread(
        [answer, display = std::string(name)]
        {
            Display* connection = XOpenDisplay(display.c_str());
            if (connection)
            {
                XCloseDisplay(connection);
            }
            const std::lock_guard<std::mutex> lock(answer->mutex);
            answer->done = true;
            answer->opened = connection != nullptr;
            answer->changed.notify_all();
        })
        .detach();
    std::unique_lock<std::mutex> lock(answer->mutex);
    if (!answer->changed.wait_for(lock, std::chrono::seconds(kDisplayAnswerSeconds),
                                  [&] { return answer->done; }))
    {
        return std::string("the X display \"") + name + "\" does not answer (no reply within " +
               std::to_string(kDisplayAnswerSeconds) + " s)";
    }
    if (!answer->opened)
    {
        return std::string("cannot open the X display \"") + name + "\"";
    }
    return std::string();
}

std::unique_ptr<GlContext> GlContext::CreateForWindow(unsigned long window)
{
    return std::make_unique<GlxContext>(window, false, 0, 0);
}

std::unique_ptr<GlContext> GlContext::CreateHidden(int width, int height)
{
    return std::make_unique<GlxContext>(0, true, width, height);
}

} // namespace platform
