#pragma once
// Pictures of the window: what the frame drew, read back before it is shown.
#include <QImage>
#include <QString>

// The current framebuffer's back buffer, width x height from the lower left corner,
// top row first. Needs the OpenGL context current.
QImage ReadBackBuffer(int width, int height);

// "vertexshadows-N.png" in directory, with the smallest N from 1 up that names no
// file yet, so that no earlier picture is overwritten.
QString NewScreenshotPath(const QString& directory);

// Saves picture as PNG to path and logs where; throws std::runtime_error naming the
// file when it cannot be written.
void SaveScreenshot(const QImage& picture, const QString& path);
