// vertexshadows: real-time ray-traced shadows, one shadow ray per vertex.
#include "app/Application.h"
#include "app/FatalError.h"
#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    PrepareApplication();
    if (!CheckDisplay())
    {
        return 1;
    }
    QApplication application(argc, argv);
    try
    {
        MainWindow window;
        window.show();
        return application.exec();
    }
    catch (...)
    {
        ReportFatalError();
        return 1;
    }
}
