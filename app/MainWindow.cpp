#include "app/MainWindow.h"

#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/FatalError.h"
#include "app/FrameRate.h"
#include "audio/AudioLog.h"
#include "scene/RasterPass.h"
#include "scene/ShaderProgram.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QEvent>

#include <algorithm>

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

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    ui->view->installEventFilter(this);

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
    qDebug().noquote() << QString::fromStdString(compute.description);
}

void MainWindow::InitScene()
{
    m_gl->MakeCurrent();

    // The music: looped for ever on the audio layer's thread. Without an audio device,
    // or without the file, the demo runs silent and nothing else changes.
    audio::SetLogSink(&LogAudioWarning);
    FMOD_System_Create(&m_fmodSystem);
    FMOD_System_SetOutput(m_fmodSystem, FMOD_OUTPUTTYPE_AUTODETECT);
    FMOD_System_Init(m_fmodSystem, 50, FMOD_INIT_NORMAL, nullptr);
    FMOD_System_CreateStream(m_fmodSystem, "WINDWLKR.S3M", FMOD_LOOP_NORMAL | FMOD_2D, nullptr,
                             &m_music);
    FMOD_System_PlaySound(m_fmodSystem, m_music, nullptr, 0, &m_channel);

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
    m_gl->SetSwapInterval(0);
    glClearColor(0.5f, 0.5f, 1.0f, 1.0f);

    m_program = LoadShaderProgram("VertexShader.txt", "FragmentShader.txt");
    m_model.Load("OBJ", "Scene.obj");

    qDebug() << "Num Positions: " << m_model.GetPositions().size();
    qDebug() << "Num Tessellation Vertices: " << m_model.GetVertices().size();

    m_deviceScene = CreateDeviceScene(m_context, m_api.get(), m_model,
                                      DrawnVertices::InOpenGlBuffer, std::move(m_glSharing));
    if (!m_deviceScene.sharingRefusal.empty())
    {
        qWarning().noquote() << QString::fromStdString(m_deviceScene.sharingRefusal);
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
    static float lightAngle = 0.0f;
    lightAngle += m_frameSeconds * 0.5f;

    const Float3 eye = CameraPosition(lightAngle);
    const Float3 target{0.0f, 1.0f, 0.0f};
    const Float3 up{0.0f, 1.0f, 0.0f};
    const Mat4 view = LookAt(eye, target, up);
    const Mat4 projection = Perspective(aspect);
    const Float3 light = LightDirection(lightAngle);

    RunShadowPass(m_context, m_clProgram, m_api.get(), m_deviceScene, Identity(), eye, target,
                  light);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawModel(m_model, m_program, Multiply(projection, view));
    m_gl->SwapBuffers();
}
