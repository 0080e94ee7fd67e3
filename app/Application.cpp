#include "app/Application.h"

#include "platform/GlContext.h"

#include <QByteArray>
#include <QSurfaceFormat>
#include <QtGlobal>

#include <cstdio>

void PrepareApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));
    }
    QSurfaceFormat format;
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);
}

bool CheckDisplay()
{
    const std::string problem = platform::DisplayProblem();
    if (problem.empty())
    {
        return true;
    }
    std::fprintf(stderr, "vertexshadows: %s\n", problem.c_str());
    return false;
}
