#pragma once
// The demo's one window: the Qt side of the program. It owns the OpenGL context on its
// view and the Demo that renders into it, and keeps the frame loop: the title's frame
// rate, the controls that turn the camera and the light, the overlay, the screenshots
// and the figures of a --frames run.
#include "app/Demo.h"
#include "app/FrameStatistics.h"
#include "app/Options.h"
#include "app/Overlay.h"
#include "app/ViewControls.h"
#include "platform/GlContext.h"

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
    // The demo as the command line asks for it; default settings are the demo as is.
    explicit MainWindow(const Settings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Installed on the view only: keeps the OpenGL viewport the size of the view.
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // One frame; the zero-interval timer runs it whenever the event loop is idle.
    // Anything thrown inside is reported and ends the program with status 1.
    void Draw();

protected:
    // Stops the frames and releases the OpenGL and OpenCL resources while the view's
    // native window still exists: once the close is accepted Qt destroys it, and a
    // frame drawn or a context torn down after that works on a window that is gone.
    void closeEvent(QCloseEvent* event) override;

private:
    // The OpenCL device, its context, the kernel program and the intersection service:
    // the Demo is made around them.
    void InitCL();
    // The rest of the Demo's start-up: the music, the OpenGL state, the shader program,
    // the model and the device memory of the shadow pass with the occluder committed.
    void InitScene();
    void DrawFrame();
    // Stops the frames and lets the Demo go while the view's window exists; the OpenGL
    // context goes last. Calling it again is harmless.
    void ReleaseResources();
    // Over the drawn frame, before it is shown: the overlay and a screenshot.
    void DrawExtras(int width, int height, bool lastFrame);
    // The figures of a drawn frame: the overlay's, and at the end of a --frames run,
    // its report and the exit.
    void CountFrameCosts(const FrameSample& sample);

    Settings m_settings;
    // The import of a scene given by name, started first and taken by InitScene.
    std::shared_ptr<StartedImport> m_startedImport;
    // The form; its widgets belong to the window through Qt's parent chain.
    std::unique_ptr<Ui_MainWindow> ui;
    // The view's native X11 window and the GLX context drawing into it, which outlives
    // the Demo.
    unsigned long m_window = 0;
    std::unique_ptr<platform::GlContext> m_gl;
    std::unique_ptr<Demo> m_demo;

    QTimer m_timer;
    std::int64_t m_prevNs = 0;
    std::int64_t m_curNs = 0;
    float m_frameSeconds = 0.0f;
    int m_frameCount = 0;
    float m_fpsSeconds = 0.0f;

    ViewControls m_controls;
    Overlay m_overlay;
    // Frames of a --frames run, or of the overlay's current half second.
    FrameStatistics m_statistics;
    double m_statisticsSeconds = 0.0;
    int m_framesDrawn = 0;
    int m_settledFrames = 0;
    // The view's size when the viewport was last set.
    QSize m_viewportSize;
    // Whether the last frame was the per-pixel reference, and the rays it traced.
    bool m_referenceDrawn = false;
    double m_raysPerFrame = 0;
};
