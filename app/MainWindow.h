#pragma once
// The demo's one window. It owns every resource of the program: the OpenGL context on
// its view, and the frame loop that keeps the title's frame rate, turns the camera
// and the light, and draws.
#include "platform/GlContext.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <memory>

class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Installed on the view only: keeps the OpenGL viewport the size of the view.
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // One frame; the zero-interval timer runs it whenever the event loop is idle.
    // Anything thrown inside is reported and ends the program with status 1.
    void Draw();

private:
    void DrawFrame();

    Ui_MainWindow* ui;
    // The view's native X11 window and the GLX context drawing into it.
    unsigned long m_window = 0;
    std::unique_ptr<platform::GlContext> m_gl;

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    std::int64_t m_prevNs = 0;
    std::int64_t m_curNs = 0;
    float m_frameSeconds = 0.0f;
    int m_frameCount = 0;
    float m_fpsSeconds = 0.0f;
};
