#include "app/Screenshot.h"

#include <GL/glew.h>

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <stdexcept>

QImage ReadBackBuffer(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, picture.bits());
    // OpenGL's rows start at the bottom; the alpha of the window means nothing.
    return picture.mirrored().convertToFormat(QImage::Format_RGB32);
}

QString NewScreenshotPath(const QString& directory)
{
    const QDir dir(directory);
    for (int n = 1;; ++n)
    {
        const QString path = dir.filePath(QString("vertexshadows-%1.png").arg(n));
        if (!QFileInfo::exists(path))
        {
            return path;
        }
    }
}

void SaveScreenshot(const QImage& picture, const QString& path)
{
    if (!picture.save(path, "PNG"))
    {
        throw std::runtime_error("Cannot save the screenshot \"" + path.toStdString() + "\"");
    }
    qDebug().noquote() << "Screenshot saved to" << QFileInfo(path).absoluteFilePath();
}
