#pragma once
// Helpers shared by the scene tests: scratch files written by the tests themselves,
// the warnings a test provokes, and a hidden OpenGL context for the tests that draw or
// upload.
#include "platform/GlContext.h"
#include "support/ScratchDir.h"

#include <FreeImage.h>
#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace fixtures
{

using test_support::WriteFile;

// A width x height image of one colour (BGR bytes as FreeImage stores them), saved
// in the given format with bitsPerPixel 8 (grey), 24 or 32.
inline bool WriteImage(const std::string& path, FREE_IMAGE_FORMAT format, int width, int height,
                       int bitsPerPixel = 24, BYTE red = 200, BYTE green = 100, BYTE blue = 50)
{
    FIBITMAP* image = FreeImage_Allocate(width, height, bitsPerPixel);
    if (!image)
    {
        return false;
    }
    const unsigned bytes = static_cast<unsigned>(bitsPerPixel / 8);
    for (int y = 0; y < height; ++y)
    {
        BYTE* row = FreeImage_GetScanLine(image, y);
        for (int x = 0; x < width; ++x)
        {
            BYTE* p = row + x * bytes;
            if (bytes == 1)
            {
                p[0] = green;
                continue;
            }
            p[FI_RGBA_RED] = red;
            p[FI_RGBA_GREEN] = green;
            p[FI_RGBA_BLUE] = blue;
            if (bytes == 4)
            {
                p[FI_RGBA_ALPHA] = 255;
            }
        }
    }
    if (bitsPerPixel == 8)
    {
        // A grey ramp palette, so that the image is truly grey-scale.
        RGBQUAD* palette = FreeImage_GetPalette(image);
        for (int i = 0; i < 256; ++i)
        {
            palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
        }
    }
    const bool saved = FreeImage_Save(format, image, path.c_str(), 0) != 0;
    FreeImage_Unload(image);
    return saved;
}

// The shared scratch directory, with its root as the scene's loaders take it.
class ScratchDir : public test_support::ScratchDir
{
public:
    QString Root() const { return QString::fromStdString(test_support::ScratchDir::Root()); }
};

// Collects the Qt warnings logged while one of these lives.
class WarningLog
{
public:
    WarningLog()
    {
        lines.clear();
        previous = qInstallMessageHandler(&WarningLog::Handle);
    }
    ~WarningLog() { qInstallMessageHandler(previous); }
    inline static std::vector<std::string> lines;

private:
    static void Handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (type == QtWarningMsg)
        {
            lines.push_back(text.toStdString());
        }
    }
    QtMessageHandler previous;
};

// Tests derived from this one run with a current OpenGL context. Where none can be had
// (no X server answers), the test fails with the reason and neither its body nor the
// hooks run: without a context GLEW's entry points are null.
class GlTest : public ::testing::Test
{
protected:
    // Run with the context current, after it is made and before it goes.
    virtual void SetUpWithContext() {}
    virtual void TearDownWithContext() {}

    std::unique_ptr<platform::GlContext> context;

private:
    void SetUp() final
    {
        try
        {
            context = platform::GlContext::CreateHidden(64, 64);
        }
        catch (const std::exception& error)
        {
            FAIL() << "no OpenGL context: " << error.what();
        }
        SetUpWithContext();
    }
    void TearDown() final
    {
        if (context)
        {
            TearDownWithContext();
        }
    }
};

} // namespace fixtures
