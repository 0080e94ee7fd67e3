#pragma once
// The figures on screen: a few lines of text drawn over the frame's top left corner
// with OpenGL itself, so that they appear in screenshots too.
#include "app/FrameStatistics.h"

#include <QImage>
#include <QString>

#include <string>

// The overlay's lines: frames per second, each stage's median time with rays per
// second (rays per frame given), the vertex and triangle counts, whether shadows are on
// and whether they are the per-pixel reference's, and the device line.
QString DescribeFrames(double framesPerSecond, const FrameSample& medians, int vertices,
                       size_t triangles, bool shadowsOn, const std::string& device,
                       bool reference = false, double raysPerFrame = 0);

class Overlay
{
public:
    // Renders text (lines separated by '\n') into the picture drawn by Draw.
    void SetText(const QString& text);

    // Draws the text at the top left of a width x height viewport, over the frame.
    // Needs the OpenGL context current with program 0; leaves depth testing and
    // texturing on and blending off, as the frame has them.
    void Draw(int width, int height) const;

private:
    QImage m_picture;
};
