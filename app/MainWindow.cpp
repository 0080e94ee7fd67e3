#include "app/MainWindow.h"

#include "app/DeviceWatch.h"
#include "app/FatalError.h"
#include "app/FrameRate.h"
#include "app/Screenshot.h"
#include "audio/AudioLog.h"
#include "import/ContainedImport.h"
#include "ui_MainWindow.h"

#include <GL/glew.h>

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

// One line of the start-up of a scene given by name: a large one takes a while, and the
// person waiting sees each stage end.
void LogStage(const char* stage, double seconds)
{
    qDebug().noquote() << QStringLiteral("Start-up: %1 %2 s").arg(stage).arg(seconds, 0, 'f', 2);
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
    : QMainWindow(parent), m_settings(settings), ui(std::make_unique<Ui_MainWindow>())
{
    // A scene given by name is imported in its child from the start: the window, the
    // OpenGL context and the compute start-up go on beside it.
    if (!settings.scene.empty())
    {
        const SceneRequest request = SceneRequestFor(settings);
        m_startedImport =
            std::make_shared<StartedImport>(request.directory + "/" + request.fileName);
    }
    ui->setupUi(this);
    m_controls.SetReference(settings.reference);
    m_controls.SetRefine(settings.refine);
    ui->view->installEventFilter(this);
    ui->view->installEventFilter(&m_controls);
    installEventFilter(&m_controls);

    // Asking for the id turns the view into a native X11 window of its own.
    m_window = ui->view->winId();
    m_gl = platform::GlContext::CreateForWindow(m_window);

    // What start-up made before a failure goes with its owners as the exception leaves.
    InitCL();
    InitScene();

    m_curNs = m_demo->Nanoseconds();
    m_prevNs = m_curNs;

    device_watch::Start(settings.frames > 0);
    connect(&m_timer, SIGNAL(timeout()), this, SLOT(Draw()));
    m_timer.start(0);
}

MainWindow::~MainWindow()
{
    ReleaseResources();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (device_watch::Stuck())
    {
        device_watch::EndStuck();
    }
    ReleaseResources();
    QMainWindow::closeEvent(event);
}

void MainWindow::ReleaseResources()
{
    m_timer.stop();
    // The Demo (music, OpenGL and OpenCL objects; it makes the context current for them)
    // before the OpenGL context, which its OpenCL context may share with.
    m_demo.reset();
    m_gl.reset();
}

void MainWindow::InitCL()
{
    const auto start = std::chrono::steady_clock::now();
    ComputeStartup compute = StartCompute(
        m_gl.get(), kKernelFile,
        [](const std::string& line) { qWarning().noquote() << QString::fromStdString(line); });
    qDebug().noquote() << QString::fromStdString(compute.description);
    if (!m_settings.scene.empty())
    {
        LogStage("compute",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    m_demo = std::make_unique<Demo>(*m_gl, std::move(compute));
}

void MainWindow::InitScene()
{
    // The audio layer's warnings (a missing or unplayable music file) join the log.
    audio::SetLogSink(&LogAudioWarning);
    SceneRequest request = SceneRequestFor(m_settings);
    if (!m_settings.scene.empty())
    {
        request.stageDone = &LogStage;
        request.load.startedImport = std::move(m_startedImport);
    }
    m_demo->LoadScene(request);

    const Model& model = m_demo->GetModel();
    qDebug() << "Num Positions: " << model.GetPositions().size();
    qDebug() << "Num Tessellation Vertices: " << model.GetVertices().size();
    const std::string& refusal = m_demo->GetDeviceScene().sharingRefusal;
    if (!refusal.empty())
    {
        qWarning().noquote() << QString::fromStdString(refusal);
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
    // are gone with the close. Nor may one that comes while a frame's wait for the device
    // turns the event loop.
    if (!m_gl || device_watch::Stuck())
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
    const double frameStart = m_demo->Seconds();
    m_gl->MakeCurrent();

    m_prevNs = m_curNs;
    m_curNs = m_demo->Nanoseconds();
    m_frameSeconds = static_cast<float>(static_cast<std::uint64_t>(m_curNs - m_prevNs)) / 1e9f;

    if (const auto shown = CountFrame(m_frameCount, m_fpsSeconds, m_frameSeconds))
    {
        setWindowTitle(QStringLiteral("FPS: ") + QString::number(*shown));
    }

    const int width = std::max(ui->view->width(), 1);
    const int height = std::max(ui->view->height(), 1);

    // The light turns half a radian per second; the camera follows at half its rate.
    const CameraView view = m_controls.Advance(!frameRun ? m_frameSeconds
                                               : counted ? kFixedFrameSeconds
                                                         : 0.0f);
    // Where the figures are wanted, the raster pass's own time, not only its queueing.
    const bool measuring = (frameRun && counted) || m_controls.OverlayShown();
    // The per-pixel reference replaces the per-vertex shadows, not the lighting: with the
    // shadows off both draw the same lit frame.
    m_referenceDrawn = m_controls.ReferenceOn() && m_controls.ShadowsOn();
    m_raysPerFrame =
        m_referenceDrawn ? double(width) * height : m_demo->GetDeviceScene().vertexCount;
    FrameSample sample = m_referenceDrawn
                             ? m_demo->RenderReference(view, width, height, measuring)
                             : m_demo->Render(view, width, height, m_controls.ShadowsOn(),
                                              measuring, m_controls.RefineOn());
    if (!m_referenceDrawn && m_controls.RefineOn() && m_controls.ShadowsOn() &&
        m_demo->GetRefinement())
    {
        // The split triangles' vertices send rays of their own.
        m_raysPerFrame += m_demo->GetRefinement()->RefinedVertices();
    }
    DrawExtras(width, height, frameRun && counted && m_framesDrawn + 1 == m_settings.frames);
    m_gl->SwapBuffers();
    if (measuring)
    {
        sample.frame = m_demo->Seconds() - frameStart;
        CountFrameCosts(sample);
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
    const size_t triangles = m_demo->GetModel().GetIndices().size() / 3;
    const int vertexCount = m_demo->GetDeviceScene().vertexCount;
    if (m_settings.frames == 0)
    {
        if (m_statisticsSeconds >= kOverlaySeconds)
        {
            m_overlay.SetText(DescribeFrames(double(m_statistics.Count()) / m_statisticsSeconds,
                                             m_statistics.Medians(), vertexCount, triangles,
                                             m_controls.ShadowsOn(), m_demo->DescribeDevice(),
                                             m_referenceDrawn, m_raysPerFrame));
            m_statistics.Clear();
            m_statisticsSeconds = 0.0;
        }
        return;
    }
    if (++m_framesDrawn < m_settings.frames)
    {
        return;
    }
    if (m_referenceDrawn)
    {
        std::printf("vertexshadows: %d frame%s of the per-pixel reference (one shadow ray per "
                    "pixel, %.0f) over %d vertices and %zu triangles, median per stage:\n",
                    m_settings.frames, m_settings.frames == 1 ? "" : "s", m_raysPerFrame,
                    vertexCount, triangles);
    }
    else
    {
        std::printf("vertexshadows: %d frame%s of %d vertices (one shadow ray each) and %zu "
                    "triangles, median per stage:\n",
                    m_settings.frames, m_settings.frames == 1 ? "" : "s", vertexCount, triangles);
    }
    for (const std::string& line : DescribeStages(m_statistics.Medians(), m_raysPerFrame))
    {
        std::printf("%s\n", line.c_str());
    }
    std::printf("  %s\n", m_demo->DescribeDevice().c_str());
    std::fflush(stdout);
    m_timer.stop();
    QCoreApplication::exit(0);
}
