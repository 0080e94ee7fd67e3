#pragma once
// The demo's one window. It owns every resource of the program: the OpenGL context on
// its view, the compute device, the scene, and the frame loop that keeps the title's
// frame rate, turns the camera and the light, casts the shadows and draws.
#include "app/ComputeStartup.h"
#include "app/FrameStatistics.h"
#include "app/GlSharing.h"
#include "app/Options.h"
#include "app/Overlay.h"
#include "app/ShadowPass.h"
#include "app/ViewControls.h"
#include "audio/fmod.h"
#include "clw/CLW.h"
#include "platform/GlContext.h"
#include "rr/radeon_rays.h"
#include "scene/Model.h"

#include <GL/glew.h>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

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
    // The OpenCL device, its context, the kernel program and the intersection service.
    void InitCL();
    // The OpenGL state, the shader program, the model, and the device memory of the
    // shadow pass with the occluder committed.
    void InitScene();
    void DrawFrame();
    // Everything the destructor would release, at most once: the music, the device and
    // OpenGL objects, then the contexts themselves.
    void ReleaseResources();
    // Over the drawn frame, before it is shown: the overlay and a screenshot.
    void DrawExtras(int width, int height, bool lastFrame);
    // The figures of a drawn frame: the overlay's, and at the end of a --frames run,
    // its report and the exit.
    void CountFrameCosts(const FrameSample& sample);

    Settings m_settings;
    Ui_MainWindow* ui;
    // The view's native X11 window and the GLX context drawing into it.
    unsigned long m_window = 0;
    std::unique_ptr<platform::GlContext> m_gl;

    // Destroyed in reverse order: the model's textures, then the device scene (while
    // the service that made its views and occluder still exists), then the service,
    // the program and the context; the OpenGL context above outlives them all.
    GLuint m_program = 0;
    CLWContext m_context;
    CLWProgram m_clProgram;
    IntersectionApiPtr m_api;
    // From start-up until the device scene takes them: the steps of the sharing path,
    // or null where the vertices go through the host.
    std::unique_ptr<GlSharingSteps> m_glSharing;
    DeviceScene m_deviceScene;
    Model m_model;
    // Places the scene in the frame the camera and the light are made for.
    Mat4 m_world{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    std::string m_deviceDescription;
    std::string m_deviceName;

    QTimer m_timer;
    QElapsedTimer m_elapsed;
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

    // The background music; it plays on the audio layer's own thread.
    FMOD_SYSTEM* m_fmodSystem = nullptr;
    FMOD_SOUND* m_music = nullptr;
    FMOD_CHANNEL* m_channel = nullptr;
};
