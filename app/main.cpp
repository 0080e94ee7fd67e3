// vertexshadows: real-time ray-traced shadows, one shadow ray per vertex.
#include "app/Application.h"
#include "app/FatalError.h"
#include "app/MainWindow.h"
#include "app/Options.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // The demo's options are read before the toolkit's application exists, so that
    // --help and a bad value are answered without a display; whatever the toolkit
    // does not take for itself is checked once it has taken its own.
    const ParsedOptions early = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), true);
    if (early.action == ParsedOptions::Action::Help)
    {
        std::printf("%s\n", kUsage);
        return 0;
    }
    if (early.action == ParsedOptions::Action::Refuse)
    {
        return RefuseCommandLine(early.problem);
    }

    PrepareApplication();
    if (!CheckDisplay())
    {
        return 1;
    }
    QApplication application(argc, argv);
    const ParsedOptions options =
        ParseOptions(std::vector<std::string>(argv + 1, argv + argc), false);
    if (options.action == ParsedOptions::Action::Refuse)
    {
        return RefuseCommandLine(options.problem);
    }
    try
    {
        MainWindow window(options.settings);
        window.show();
        return application.exec();
    }
    catch (...)
    {
        ReportFatalError();
        return 1;
    }
}
