// The GLX context against Mesa under Xvfb: the framebuffer it really got, and the
// sharing properties OpenCL will be given.
#include "platform/GlContext.h"

// GoogleTest before Xlib: Xlib's macros (None, Bool, Status) break its templates.
#include <gtest/gtest.h>

#include <CL/cl_gl.h>
#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace
{

// OpenCL must be handed the context and display that are current, under GLX's names.
void ExpectSharingPropertiesNameTheCurrentContext(const platform::GlContext& context)
{
    const std::vector<std::intptr_t> expected{
        CL_GL_CONTEXT_KHR, reinterpret_cast<std::intptr_t>(glXGetCurrentContext()),
        CL_GLX_DISPLAY_KHR, reinterpret_cast<std::intptr_t>(glXGetCurrentDisplay())};
    EXPECT_EQ(context.OpenClSharingProperties(), expected);
}

void ExpectDepthStencilDoubleBuffered()
{
    GLint depth = 0, stencil = 0;
    GLboolean doubleBuffered = GL_FALSE;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    glGetIntegerv(GL_STENCIL_BITS, &stencil);
    glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
    EXPECT_EQ(depth, 24);
    EXPECT_EQ(stencil, 8);
    EXPECT_EQ(doubleBuffered, GL_TRUE);
}

TEST(GlContext, HiddenContextIsCurrentWithDepthAndStencil)
{
    auto context = platform::GlContext::CreateHidden(64, 48);
    ASSERT_NE(glXGetCurrentContext(), nullptr);
    ExpectSharingPropertiesNameTheCurrentContext(*context);
    // GLEW was initialised: a 2.0 entry point is loaded.
    EXPECT_NE(glCreateShader, nullptr);
    ExpectDepthStencilDoubleBuffered();
}

TEST(GlContext, ClearsAndSwapsWithoutErrors)
{
    auto context = platform::GlContext::CreateHidden(32, 32);
    context->SetSwapInterval(0);
    glClearColor(0.5f, 0.5f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    unsigned char pixel[4] = {};
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_NEAR(pixel[0], 128, 1);
    EXPECT_EQ(pixel[2], 255);
    context->SwapBuffers();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A window of the server's default visual (24-bit TrueColor without GLX depth on
// Xvfb) cannot carry a 24/8 context; the context must still get one.
TEST(GlContext, WindowOfAnotherVisualStillGetsDepthAndStencil)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window host =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 80, 60, 0, 0, 0);
    XMapWindow(display, host);
    XSync(display, False);
    {
        auto context = platform::GlContext::CreateForWindow(host);
        ExpectDepthStencilDoubleBuffered();
        context->Resize(0, 0); // clamps to 1 x 1 instead of failing
        context->MakeCurrent();
        ExpectSharingPropertiesNameTheCurrentContext(*context);
    }
    XDestroyWindow(display, host);
    XCloseDisplay(display);
}

TEST(GlContext, MissingWindowIsReported)
{
    try
    {
        platform::GlContext::CreateForWindow(0x7ffffff0);
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& error)
    {
        EXPECT_STREQ(error.what(), "the view's native window does not exist");
    }
}

} // namespace
