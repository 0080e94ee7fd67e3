#include "app/MainWindow.h"

#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/FatalError.h"
#include "app/FrameRate.h"
#include "app/SceneSetup.h"
#include "app/Screenshot.h"
#include "audio/AudioLog.h"
#include "scene/RasterPass.h"
#include "scene/ShaderProgram.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace
{

// The audio layer's warnings (a missing or unplayable music file) join the debug log;
// its chatter about the module's contents does not.
void LogAudioWarning(audio::LogLevel level, const char* message)
{
    if (level == audio::LogLevel::Warning)
    {
        qWarning().noquote() << message;
    }
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A --frames run turns the light by this much time per frame, so that its pictures
// are the same on every machine.
constexpr float kFixedFrameSeconds = 1.0f / 30.0f;
// The overlay's figures are the medians of this many seconds of frames.
constexpr double kOverlaySeconds = 0.5;
// Frames a --frames run draws before it counts: the view settling to its size.
constexpr int kSettlingFrames = 3;

} // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(Settings(), parent) {}

MainWindow::MainWindow(const Settings& settings, QWidget* parent)
    : QMainWindow(parent), m_settings(settings), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    ui->view->installEventFilter(this);
    ui->view->installEventFilter(&m_controls);
    installEventFilter(&m_controls);

    // Asking for the id turns the view into a native X11 window of its own.
    m_window = ui->view->winId();
    m_gl = platform::GlContext::CreateForWindow(m_window);

    try
    {
        InitCL();
        InitScene();
    }
    catch (...)
    {
        // No destructor runs for a window that failed to construct: stop the music's
        // thread here, so that the process never ends while it still plays.
        FMOD_System_Release(m_fmodSystem);
        throw;
    }

    m_elapsed.start();
    m_curNs = m_elapsed.nsecsElapsed();
    m_prevNs = m_curNs;

    connect(&m_timer, SIGNAL(timeout()), this, SLOT(Draw()));
    m_timer.start(0);
}

MainWindow::~MainWindow()
{
    ReleaseResources();
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    ReleaseResources();
    QMainWindow::closeEvent(event);
}

void MainWindow::ReleaseResources()
{
    m_timer.stop();
    // The audio thread stops before the music it reads is freed.
    FMOD_System_Release(m_fmodSystem);
    m_fmodSystem = nullptr;
    m_music = nullptr;
    m_channel = nullptr;
    if (!m_gl)
    {
        return; // released already
    }
    // OpenGL objects go while their context is current; the device scene (its buffers,
    // views, occluder and the sharing path's fence) before the service that made them,
    // and the OpenCL context, which may share with the OpenGL one, before the OpenGL
    // context.
    m_gl->MakeCurrent();
    m_deviceScene = DeviceScene();
    m_glSharing.reset();
    m_api.reset();
    m_model.Release();
    if (m_program)
    {
        glDeleteProgram(m_program);
        m_program = 0;
    }
    m_clProgram = CLWProgram();
    m_context = CLWContext();
    m_gl.reset();
}

void MainWindow::InitCL()
{
    ComputeStartup compute = StartCompute(
        m_gl.get(), kKernelFile,
        [](const std::string& line) { qWarning().noquote() << QString::fromStdString(line); });
    m_context = compute.context;
    m_clProgram = compute.program;
    m_api = std::move(compute.api);
    m_glSharing = std::move(compute.glSharing);
    m_deviceDescription = compute.description;
    m_deviceName = compute.deviceName;
    qDebug().noquote() << QString::fromStdString(compute.description);
}

void MainWindow::InitScene()
{
    m_gl->MakeCurrent();

    // The music: looped for ever on the audio layer's thread. Without an audio device,
    // or without the file, the demo runs silent and nothing else changes.
    if (m_settings.music)
    {
        audio::SetLogSink(&LogAudioWarning);
        FMOD_System_Create(&m_fmodSystem);
        FMOD_System_SetOutput(m_fmodSystem, FMOD_OUTPUTTYPE_AUTODETECT);
        FMOD_System_Init(m_fmodSystem, 50, FMOD_INIT_NORMAL, nullptr);
        FMOD_System_CreateStream(m_fmodSystem, "WINDWLKR.S3M", FMOD_LOOP_NORMAL | FMOD_2D, nullptr,
                                 &m_music);
        FMOD_System_PlaySound(m_fmodSystem, m_music, nullptr, 0, &m_channel);
    }

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
    m_gl->SetSwapInterval(0);
    glClearColor(0.5f, 0.5f, 1.0f, 1.0f);

    m_program = LoadShaderProgram("VertexShader.txt", "FragmentShader.txt");
    m_world = LoadScene(m_model, m_settings);

    qDebug() << "Num Positions: " << m_model.GetPositions().size();
    qDebug() << "Num Tessellation Vertices: " << m_model.GetVertices().size();

    const bool framed = !m_settings.scene.empty();
    m_deviceScene =
        CreateDeviceScene(m_context, m_api.get(), m_model, DrawnVertices::InOpenGlBuffer,
                          std::move(m_glSharing), framed ? &m_world : nullptr);
    if (!m_deviceScene.sharingRefusal.empty())
    {
        qWarning().noquote() << QString::fromStdString(m_deviceScene.sharingRefusal);
        // The overlay and --frames name the path the frames take.
        m_deviceDescription = DescribePath(m_deviceName, m_deviceScene.sharingRefusal);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const bool handled = QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Resize && m_gl)
    {
        const int width = std::max(ui->view->width(), 1);
        const int height = std::max(ui->view->height(), 1);
        m_gl->Resize(width, height);
        glViewport(0, 0, width, height);
        m_viewportSize = ui->view->size();
    }
    return handled;
}

void MainWindow::Draw()
{
    // A timeout already queued when the window closed must not draw: the resources
    // are gone with the close.
    if (!m_gl)
    {
        return;
    }
    // Nothing may leave a slot through Qt's event loop: report, stop, and let main
    // return the failure.
    try
    {
        DrawFrame();
    }
    catch (...)
    {
        ReportFatalError();
        m_timer.stop();
        QCoreApplication::exit(1);
    }
}

void MainWindow::DrawFrame()
{
    // A --frames run counts only frames that reach the screen whole: until the view is
    // shown and the viewport has its size, what a frame draws has nowhere to go; and the
    // driver may take the new size of the drawable only a frame or two later. Those
    // first frames are drawn with the light still, and not counted.
    const bool frameRun = m_settings.frames > 0;
    const QWindow* viewWindow = ui->view->windowHandle();
    if (frameRun && !(viewWindow && viewWindow->isExposed() && m_viewportSize == ui->view->size()))
    {
        return;
    }
    const bool counted = !frameRun || ++m_settledFrames > kSettlingFrames;
    const double frameStart = Now();
    m_gl->MakeCurrent();

    m_prevNs = m_curNs;
    m_curNs = m_elapsed.nsecsElapsed();
    m_frameSeconds = static_cast<float>(static_cast<std::uint64_t>(m_curNs - m_prevNs)) / 1e9f;

    if (const auto shown = CountFrame(m_frameCount, m_fpsSeconds, m_frameSeconds))
    {
        setWindowTitle(QStringLiteral("FPS: ") + QString::number(*shown));
    }

    const int width = std::max(ui->view->width(), 1);
    const int height = std::max(ui->view->height(), 1);
    const float aspect = static_cast<float>(width) / static_cast<float>(height);

    // The light turns half a radian per second; the camera follows at half its rate.
    const ViewControls::View frame = m_controls.Advance(!frameRun ? m_frameSeconds
                                                        : counted ? kFixedFrameSeconds
                                                                  : 0.0f);
    const Float3 up{0.0f, 1.0f, 0.0f};
    const Mat4 view = LookAt(frame.eye, frame.target, up);
    const Mat4 projection = Perspective(aspect);

    ShadowPassTimes times;
    RunShadowPass(m_context, m_clProgram, m_api.get(), m_deviceScene, m_world, frame.eye,
                  frame.target, frame.light, &times, m_controls.ShadowsOn());

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const double rasterStart = Now();
    DrawModel(m_model, m_program, Multiply(projection, view));
    // Where the figures are wanted, the raster pass's own time, not only its queueing.
    const bool measuring = (frameRun && counted) || m_controls.OverlayShown();
    if (measuring)
    {
        glFinish();
    }
    const double rasterSeconds = Now() - rasterStart;
    DrawExtras(width, height, frameRun && counted && m_framesDrawn + 1 == m_settings.frames);
    m_gl->SwapBuffers();
    if (measuring)
    {
        CountFrameCosts({times.rayGeneration, times.occlusion, times.shadowWrite, times.transfer,
                         rasterSeconds, Now() - frameStart});
    }
}

void MainWindow::DrawExtras(int width, int height, bool lastFrame)
{
    if (m_controls.OverlayShown())
    {
        m_overlay.Draw(width, height);
    }
    const bool asked = m_controls.TakeScreenshotRequest();
    const bool runsLast = lastFrame && !m_settings.screenshot.empty();
    if (!asked && !runsLast)
    {
        return;
    }
    const QString path = m_settings.screenshot.empty()
                             ? NewScreenshotPath(".")
                             : QString::fromStdString(m_settings.screenshot);
    try
    {
        SaveScreenshot(ReadBackBuffer(width, height), path);
    }
    catch (const std::runtime_error& refusal)
    {
        // The picture a --frames run was asked for is part of its result; one taken
        // with F12 is not worth the demo, which says why and goes on.
        if (runsLast)
        {
            throw;
        }
        qWarning().noquote() << refusal.what();
    }
}

void MainWindow::CountFrameCosts(const FrameSample& sample)
{
    m_statistics.Add(sample);
    // Frames per second count the time between frames, the event loop's share included.
    m_statisticsSeconds += m_frameSeconds;
    const size_t triangles = m_model.GetIndices().size() / 3;
    if (m_settings.frames == 0)
    {
        if (m_statisticsSeconds >= kOverlaySeconds)
        {
            m_overlay.SetText(DescribeFrames(
                double(m_statistics.Count()) / m_statisticsSeconds, m_statistics.Medians(),
                m_deviceScene.vertexCount, triangles, m_controls.ShadowsOn(), m_deviceDescription));
            m_statistics.Clear();
            m_statisticsSeconds = 0.0;
        }
        return;
    }
    if (++m_framesDrawn < m_settings.frames)
    {
        return;
    }
    std::printf("vertexshadows: %d frame%s of %d vertices (one shadow ray each) and %zu "
                "triangles, median per stage:\n",
                m_settings.frames, m_settings.frames == 1 ? "" : "s", m_deviceScene.vertexCount,
                triangles);
    for (const std::string& line :
         DescribeStages(m_statistics.Medians(), m_deviceScene.vertexCount))
    {
        std::printf("%s\n", line.c_str());
    }
    std::printf("  %s\n", m_deviceDescription.c_str());
    std::fflush(stdout);
    m_timer.stop();
    QCoreApplication::exit(0);
}
