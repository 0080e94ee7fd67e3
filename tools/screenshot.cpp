// vs_screenshot <window-id> <file.png>: saves what an X window shows to a PNG file.
// ./run uses it to show a newcomer on a headless machine what the demo drew.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: vs_screenshot <window-id> <file.png>\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    bool ok = false;
    const WId window = QString(argv[1]).toULongLong(&ok, 0);
    if (!ok)
    {
        std::fprintf(stderr, "vs_screenshot: not a window id: %s\n", argv[1]);
        return 2;
    }
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(window);
    if (picture.isNull() || !picture.save(argv[2], "PNG"))
    {
        std::fprintf(stderr, "vs_screenshot: cannot save window %s to %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
