// The main window on a real X server (Xvfb and Mesa): its form, its OpenGL context,
// the viewport rule and the frame-rate title.
#include "app/MainWindow.h"
#include "app/Application.h"
#include "platform/GlContext.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLayout>
#include <QTemporaryDir>
#include <QTest>

#include <string>

// After Qt and GoogleTest: Xlib's macros (None, Status, Bool) break their headers.
#include <GL/glew.h>
#include <GL/glx.h>

namespace
{

class MainWindowTest : public testing::Test
{
protected:
    // Qt aborts the process where no X server answers: without one, no application is
    // made and every test fails with the reason.
    static void SetUpTestSuite()
    {
        PrepareApplication();
        s_displayProblem = platform::DisplayProblem();
        if (!s_displayProblem.empty())
        {
            return;
        }
        static int argc = 1;
        static char name[] = "app_window_tests";
        static char* argv[] = {name, nullptr};
        s_application = new QApplication(argc, argv);
    }
    static void TearDownTestSuite()
    {
        delete s_application;
        s_application = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_application, nullptr) << s_displayProblem; }

    QWidget* View(MainWindow& window) { return window.findChild<QWidget*>("view"); }

    static QApplication* s_application;
    inline static std::string s_displayProblem;
};

QApplication* MainWindowTest::s_application = nullptr;

TEST_F(MainWindowTest, HasItsFormAndTitle)
{
    MainWindow window;
    EXPECT_EQ(window.objectName(), "MainWindow");
    EXPECT_EQ(window.windowTitle(), "MainWindow");
    EXPECT_EQ(window.size(), QSize(800, 600));
    QWidget* central = window.centralWidget();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->objectName(), "centralwidget");
    QLayout* layout = central->layout();
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->objectName(), "verticalLayout");
    EXPECT_EQ(layout->spacing(), 0);
    EXPECT_EQ(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    QWidget* view = View(window);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->parentWidget(), central);
    EXPECT_EQ(view->styleSheet(), "background-color: rgb(0, 0, 0);");
}

TEST_F(MainWindowTest, TheViewIsANativeWindowWithACurrentDoubleBufferedContext)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(View(window)->testAttribute(Qt::WA_NativeWindow));
    EXPECT_NE(glXGetCurrentContext(), nullptr);
    GLboolean doubleBuffered = GL_FALSE;
    GLint depth = 0, stencil = 0;
    glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    glGetIntegerv(GL_STENCIL_BITS, &stencil);
    EXPECT_EQ(doubleBuffered, GL_TRUE);
    EXPECT_EQ(depth, 24);
    EXPECT_EQ(stencil, 8);
}

TEST_F(MainWindowTest, TheViewportFollowsTheViewAndIsNeverEmpty)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWidget* view = View(window);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], view->width());
    EXPECT_EQ(viewport[3], view->height());

    view->resize(0, 0);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1);
    EXPECT_EQ(viewport[3], 1);
}

TEST_F(MainWindowTest, AfterASecondOfFramesTheTitleShowsTheFrameRate)
{
    MainWindow window;
    window.show();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !window.windowTitle().startsWith("FPS: "))
    {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_GE(clock.elapsed(), 1000);
    const QString title = window.windowTitle();
    ASSERT_TRUE(title.startsWith("FPS: ")) << title.toStdString();
    bool isNumber = false;
    const int fps = title.mid(5).toInt(&isNumber);
    EXPECT_TRUE(isNumber);
    EXPECT_GT(fps, 0);
}

// The mean brightness of the picture's top left corner, where the overlay goes.
double CornerBrightness(const QImage& picture)
{
    double sum = 0;
    for (int y = 10; y < 60; ++y)
    {
        for (int x = 10; x < 160; ++x)
        {
            sum += qGray(picture.pixel(x, y));
        }
    }
    return sum / (50 * 150);
}

TEST_F(MainWindowTest, HShowsTheOverlayAndF12SavesScreenshotsUnderNewNames)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // The scene is loaded; the pictures go to a directory of their own.
    QTemporaryDir pictures;
    const QString data = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(pictures.path()));
    auto frames = [](int milliseconds)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds)
        {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    };
    frames(500);
    QTest::keyClick(&window, Qt::Key_F12);
    frames(300);
    QTest::keyClick(&window, Qt::Key_H);
    frames(1500); // the overlay's figures are those of half a second
    QTest::keyClick(&window, Qt::Key_F12);
    frames(300);
    // A picture that cannot be written is warned about, and the frames go on.
    ASSERT_TRUE(QDir::setCurrent("/proc"));
    QTest::keyClick(&window, Qt::Key_F12);
    frames(300);
    ASSERT_TRUE(QDir::setCurrent(pictures.path()));
    QTest::keyClick(&window, Qt::Key_F12);
    frames(300);
    QDir::setCurrent(data);
    EXPECT_TRUE(QFileInfo::exists(pictures.filePath("vertexshadows-3.png")));

    const QImage plain(pictures.filePath("vertexshadows-1.png"));
    const QImage overlaid(pictures.filePath("vertexshadows-2.png"));
    ASSERT_FALSE(plain.isNull());
    ASSERT_FALSE(overlaid.isNull());
    EXPECT_EQ(plain.size(), View(window)->size());
    // The sky is light; the overlay's box is dark with light text.
    EXPECT_LT(CornerBrightness(overlaid), CornerBrightness(plain) - 40);
}

} // namespace
