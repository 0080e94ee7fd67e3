// The whole program as a user runs it, on Xvfb and PoCL: its log and title with the
// default data, a close while frames run, and the one clear line and exit status 1 for
// every kind of bad data.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// After Qt and GoogleTest: Xlib's macros (None, Status, Bool) break their headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace
{

const QString kProgram = VS_PROGRAM;
const QString kDataDir = VS_DATA_DIR;

struct Outcome
{
    int exitCode = -1;
    bool finished = false;
    QString standardError;
};

QProcessEnvironment ProgramEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("SDL_AUDIODRIVER", "dummy");
    return environment;
}

// Runs the program in workingDirectory until it ends by itself (at most timeoutMs).
Outcome RunProgram(const QString& workingDirectory, const QProcessEnvironment& environment,
                   int timeoutMs = 120000, const QStringList& arguments = {})
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(environment);
    process.start(kProgram, arguments);
    Outcome outcome;
    outcome.finished = process.waitForFinished(timeoutMs);
    if (!outcome.finished)
    {
        process.kill();
        process.waitForFinished();
    }
    outcome.exitCode = process.exitCode();
    outcome.standardError = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

// A working directory that holds the default data, with kernel.cl replaced (or left
// out, when kernelSource is empty).
class DataCopy
{
public:
    explicit DataCopy(const std::optional<std::string>& kernelSource)
    {
        const QDir data(kDataDir);
        for (const QString& name : data.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        {
            if (name != "kernel.cl")
            {
                QFile::link(data.filePath(name), QDir(m_dir.path()).filePath(name));
            }
        }
        if (kernelSource)
        {
            QFile kernel(QDir(m_dir.path()).filePath("kernel.cl"));
            kernel.open(QIODevice::WriteOnly);
            kernel.write(kernelSource->data(), static_cast<qint64>(kernelSource->size()));
        }
    }
    QString Path() const { return m_dir.path(); }

    // Puts contents in place of the default file `name`.
    void Replace(const QString& name, const std::string& contents)
    {
        const QString path = QDir(m_dir.path()).filePath(name);
        QFile::remove(path);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(contents.data(), static_cast<qint64>(contents.size()));
    }

private:
    QTemporaryDir m_dir;
};

std::string ReadDefaultKernel()
{
    QFile kernel(QDir(kDataDir).filePath("kernel.cl"));
    kernel.open(QIODevice::ReadOnly);
    return kernel.readAll().toStdString();
}

TEST(BadData, AMissingKernelFileIsReportedWithStatus1)
{
    const DataCopy data(std::nullopt);
    const Outcome outcome = RunProgram(data.Path(), ProgramEnvironment());
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.standardError.contains("vertexshadows: Cannot read the contents of a file"))
        << outcome.standardError.toStdString();
}

TEST(BadData, AKernelFileWithoutShadowShaderIsReportedWithStatus1)
{
    std::string source = ReadDefaultKernel();
    const std::string name = "__kernel void ShadowShader";
    const size_t at = source.find(name);
    ASSERT_NE(at, std::string::npos);
    source.replace(at, name.size(), "__kernel void LightShader");
    const DataCopy data(source);
    const Outcome outcome = RunProgram(data.Path(), ProgramEnvironment());
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.standardError.contains("vertexshadows: No such kernel in program"))
        << outcome.standardError.toStdString();
}

TEST(BadData, AKernelArgumentTheKernelCannotTakeNamesTheKernelTheArgumentAndTheStatus)
{
    // A count declared as a long: the frame's 4-byte int is refused with
    // CL_INVALID_ARG_SIZE, a status the frame must not pass over.
    std::string source = ReadDefaultKernel();
    const std::string parameter = "__global const Intersection* hits, int count";
    const size_t at = source.find(parameter);
    ASSERT_NE(at, std::string::npos);
    source.replace(at, parameter.size(), "__global const Intersection* hits, long count");
    const DataCopy data(source);
    const Outcome outcome = RunProgram(data.Path(), ProgramEnvironment());
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    // -51: CL_INVALID_ARG_SIZE.
    EXPECT_TRUE(outcome.standardError.contains(
        "vertexshadows: clSetKernelArg failed: argument 2 of kernel \"ShadowShader\", status -51"))
        << outcome.standardError.toStdString();
}

TEST(BadData, AKernelFileThatDoesNotCompileShowsItsBuildLog)
{
    const DataCopy data(ReadDefaultKernel() + "\nthis is not OpenCL C\n");
    const Outcome outcome = RunProgram(data.Path(), ProgramEnvironment());
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.standardError.contains("vertexshadows: "))
        << outcome.standardError.toStdString();
    EXPECT_TRUE(outcome.standardError.contains("error")) << outcome.standardError.toStdString();
}

TEST(BadData, NoOpenClPlatformIsReportedWithStatus1)
{
    QTemporaryDir noVendors;
    QProcessEnvironment environment = ProgramEnvironment();
    environment.insert("OCL_ICD_VENDORS", noVendors.path());
    const Outcome outcome = RunProgram(kDataDir, environment);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.standardError.contains("vertexshadows: no OpenCL platform is installed"))
        << outcome.standardError.toStdString();
}

// A working directory like the default data, where the file at relative path `replaced`
// is a FIFO (when fifo is set) or else a directory. Everything else links to the data.
class DataWithSpecialFile
{
public:
    DataWithSpecialFile(const std::vector<QString>& replaced, bool fifo)
    {
        LinkEntries(QDir(kDataDir), QDir(m_dir.path()));
        for (const QString& path : replaced)
        {
            const QString target = QDir(m_dir.path()).filePath(path);
            QFile::remove(target);
            if (fifo)
            {
                mkfifo(target.toLocal8Bit().constData(), 0600);
            }
            else
            {
                QDir().mkpath(target);
            }
        }
    }
    QString Path() const { return m_dir.path(); }

private:
    static void LinkEntries(const QDir& from, const QDir& to)
    {
        for (const QString& name : from.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        {
            if (name == "OBJ")
            {
                to.mkdir(name); // real, so that its files can be replaced
                LinkEntries(QDir(from.filePath(name)), QDir(to.filePath(name)));
            }
            else
            {
                QFile::link(from.filePath(name), to.filePath(name));
            }
        }
    }
    QTemporaryDir m_dir;
};

// Runs the program until its standard error holds every one of lines or it ends by
// itself; then stops it. Returns the standard error; *ended tells whether it ended.
QString RunUntilLogged(const QString& workingDirectory, const std::vector<QString>& lines,
                       bool* ended)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(ProgramEnvironment());
    process.start(kProgram, QStringList());
    QString log;
    QElapsedTimer clock;
    clock.start();
    auto allLogged = [&]
    {
        for (const QString& line : lines)
        {
            if (!log.contains(line))
            {
                return false;
            }
        }
        return true;
    };
    *ended = false;
    while (clock.elapsed() < 120000 && !allLogged())
    {
        *ended = process.waitForFinished(200);
        log += QString::fromLocal8Bit(process.readAllStandardError());
        if (*ended)
        {
            break;
        }
    }
    if (!*ended)
    {
        process.kill();
        process.waitForFinished();
    }
    return log;
}

TEST(BadData, FifosAndDirectoriesInPlaceOfFilesAreRefusedWithOneLine)
{
    // Opened as they are, a FIFO blocks the reader for ever and a directory reads as
    // garbage; each must be refused with a line that names it.
    struct FatalCase
    {
        QString path;
        QString line;
    };
    const std::vector<FatalCase> fatal = {
        {"OBJ/Scene.obj", "vertexshadows: Cannot load the scene \"OBJ/Scene.obj\": it is "},
        {"OBJ/Scene.mtl", "vertexshadows: Cannot load the scene \"OBJ/Scene.obj\": cannot read "
                          "\"OBJ/Scene.mtl\": it is "},
        {"VertexShader.txt", "vertexshadows: Cannot read the contents of a file: "
                             "\"VertexShader.txt\" is not a regular file"},
        {"kernel.cl",
         "vertexshadows: Cannot read the contents of a file: \"kernel.cl\" is not a regular file"},
    };
    for (const bool fifo : {true, false})
    {
        const char* kind = fifo ? "FIFO" : "directory";
        for (const FatalCase& c : fatal)
        {
            const DataWithSpecialFile data({c.path}, fifo);
            const Outcome outcome = RunProgram(data.Path(), ProgramEnvironment(), 120000);
            ASSERT_TRUE(outcome.finished) << kind << " " << c.path.toStdString();
            EXPECT_EQ(outcome.exitCode, 1) << kind << " " << c.path.toStdString();
            EXPECT_TRUE(outcome.standardError.contains(c.line))
                << kind << " " << c.path.toStdString() << ": "
                << outcome.standardError.toStdString();
        }

        // A texture and the music are not needed to go on: a warning each, and the
        // demo runs.
        const DataWithSpecialFile data({"OBJ/tiles.png", "WINDWLKR.S3M"}, fifo);
        bool ended = false;
        const QString log =
            RunUntilLogged(data.Path(),
                           {"Texture: cannot load OBJ/tiles.png (it is ",
                            "\"WINDWLKR.S3M\": not a regular file", "Num Tessellation Vertices: "},
                           &ended);
        EXPECT_FALSE(ended) << kind << ": " << log.toStdString();
        EXPECT_TRUE(log.contains("Texture: cannot load OBJ/tiles.png (it is "))
            << kind << ": " << log.toStdString();
        EXPECT_TRUE(log.contains("\"WINDWLKR.S3M\": not a regular file"))
            << kind << ": " << log.toStdString();
    }
}

TEST(BadData, NoXDisplayIsOneLineAndStatus1)
{
    QProcessEnvironment unset = ProgramEnvironment();
    unset.remove("DISPLAY");
    Outcome outcome = RunProgram(kDataDir, unset, 60000);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.standardError.toStdString(),
              "vertexshadows: cannot open the X display: DISPLAY is not set "
              "(./run starts a virtual X server when there is none)\n");

    // A display number that no server answers.
    QProcessEnvironment silent = ProgramEnvironment();
    int n = 500;
    while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
    {
        ++n;
    }
    silent.insert("DISPLAY", QString(":%1").arg(n));
    outcome = RunProgram(kDataDir, silent, 60000);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.standardError.toStdString(),
              QString("vertexshadows: cannot open the X display \":%1\"\n").arg(n).toStdString());

    // A display that takes the connection and never answers, as a stopped server does: a
    // listening socket in the abstract name space where the X library looks first.
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    for (;; ++n)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
        std::copy(name.begin(), name.end(), address.sun_path + 1);
        if (!QFile::exists(QString::fromStdString(name)) &&
            bind(listener, reinterpret_cast<const sockaddr*>(&address),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0)
        {
            break;
        }
    }
    ASSERT_EQ(listen(listener, 4), 0);
    silent.insert("DISPLAY", QString(":%1").arg(n));
    outcome = RunProgram(kDataDir, silent, 60000);
    close(listener);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(
        outcome.standardError.toStdString(),
        QString("vertexshadows: the X display \":%1\" does not answer (no reply within 5 s)\n")
            .arg(n)
            .toStdString());
}

TEST(BadData, PoclWithoutAWritableKernelCacheIsNamed)
{
    QProcessEnvironment environment = ProgramEnvironment();
    environment.insert("POCL_CACHE_DIR", "/proc/no-such-folder/kcache");
    environment.remove("RUSTICL_ENABLE");
    const Outcome outcome = RunProgram(kDataDir, environment);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.standardError.contains("vertexshadows: no OpenCL device was found: PoCL"))
        << outcome.standardError.toStdString();
}

// Windows of other processes on the display (other tests' demos) can be destroyed between
// listing them and reading their properties, and Xlib's default handler would end the test
// for that: such reads then find nothing instead.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

using DisplayConnection = std::unique_ptr<Display, int (*)(Display*)>;

DisplayConnection OpenDisplay()
{
    XSetErrorHandler(&IgnoreXError);
    return DisplayConnection(XOpenDisplay(nullptr), XCloseDisplay);
}

// The process that owns a top-level window, as Qt records it (_NET_WM_PID), or 0.
qint64 WindowProcess(Display* display, Window window)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    qint64 pid = 0;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data)
    {
        if (count == 1 && format == 32)
        {
            pid = static_cast<qint64>(*reinterpret_cast<unsigned long*>(data));
        }
        XFree(data);
    }
    return pid;
}

// The window's title as the program set it last (_NET_WM_NAME; Qt updates WM_NAME later).
std::string TitleOf(Display* display, Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 256, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data)
    {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return title;
}

// The X window of process pid whose title starts with prefix, among the root's children:
// other tests may run demos on the same display at the same time.
Window FindWindowNamed(Display* display, const std::string& prefix, std::string* name, qint64 pid)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
    {
        for (unsigned i = 0; i < count && !found; ++i)
        {
            const std::string title = TitleOf(display, children[i]);
            if (title.rfind(prefix, 0) == 0 && WindowProcess(display, children[i]) == pid)
            {
                found = children[i];
                *name = title;
            }
        }
        XFree(children);
    }
    return found;
}

std::vector<unsigned long> Screenshot(Display* display, Window window, int width, int height)
{
    std::vector<unsigned long> pixels;
    XImage* image = XGetImage(display, window, 0, 0, width, height, AllPlanes, ZPixmap);
    if (image)
    {
        for (int y = 0; y < height; ++y)
        {
            for (int x = 0; x < width; ++x)
            {
                pixels.push_back(XGetPixel(image, x, y));
            }
        }
        XDestroyImage(image);
    }
    return pixels;
}

// A vertex shader that holds the camera still, above the default scene looking straight
// down, whatever "matViewProj" says: the picture then changes only where the compute side
// writes new colours, which the camera's orbit would otherwise hide.
std::string StillCameraShader()
{
    QFile scene(QDir(kDataDir).filePath("OBJ/Scene.obj"));
    scene.open(QIODevice::ReadOnly);
    float extent = 0, low = 1e9f, high = -1e9f;
    while (!scene.atEnd())
    {
        const QList<QByteArray> words = scene.readLine().simplified().split(' ');
        if (words.size() == 4 && words[0] == "v")
        {
            extent =
                std::max({extent, std::fabs(words[1].toFloat()), std::fabs(words[3].toFloat())});
            low = std::min(low, words[2].toFloat());
            high = std::max(high, words[2].toFloat());
        }
    }
    const std::string size = std::to_string(extent * 1.05f);
    const std::string middle = std::to_string((low + high) / 2);
    const std::string depth = std::to_string((high - low) / 2 * 1.1f + 0.01f);
    // Screen up is world -z, so that the triangles keep their winding for face culling.
    return "#version 330\n"
           "layout(location = 0) in vec3 position;\n"
           "layout(location = 2) in vec2 texCoord;\n"
           "layout(location = 3) in vec3 color;\n"
           "uniform mat4 matViewProj;\n"
           "out vec2 vTexCoord;\n"
           "out vec3 vColor;\n"
           "void main()\n"
           "{\n"
           "    gl_Position = vec4(position.x / " +
           size + ", -position.z / " + size + ", -(position.y - " + middle + ") / " + depth +
           ", 1.0);\n"
           "    vTexCoord = texCoord;\n"
           "    vColor = color;\n"
           "}\n";
}

// With every OpenCL implementation installed here and a broken one beside them, the demo
// passes over the broken one with one warning and runs on the device the rules choose
// (PoCL's: Clover and rusticl list no device by default).
TEST(DefaultData, RunsLogsItsCountsAndShowsMovingShadows)
{
    DataCopy data(ReadDefaultKernel());
    data.Replace("VertexShader.txt", StillCameraShader());
    QProcessEnvironment environment = ProgramEnvironment();
    environment.insert("OCL_ICD_VENDORS", VS_OPENCL_VENDORS "/installed-and-broken");
    environment.remove("RUSTICL_ENABLE");
    QProcess process;
    process.setWorkingDirectory(data.Path());
    process.setProcessEnvironment(environment);
    process.start(kProgram, QStringList());
    ASSERT_TRUE(process.waitForStarted());

    DisplayConnection display = OpenDisplay();
    ASSERT_TRUE(display);

    // Wait for the first frame-rate title (start-up loads, refines and uploads the scene).
    std::string title;
    Window window = 0;
    QElapsedTimer clock;
    clock.start();
    while (!window && clock.elapsed() < 180000 && process.state() == QProcess::Running)
    {
        QThread::msleep(200);
        window = FindWindowNamed(display.get(), "FPS: ", &title, process.processId());
    }
    ASSERT_NE(window, 0u) << QString::fromLocal8Bit(process.readAllStandardError()).toStdString();
    EXPECT_GT(std::stoi(title.substr(5)), 0) << title;

    const int width = 320, height = 240;
    const std::vector<unsigned long> first = Screenshot(display.get(), window, width, height);
    ASSERT_EQ(first.size(), size_t(width * height));
    // The light turns half a radian a second; on a loaded machine frames can be slow, so
    // look again for up to 30 seconds.
    size_t changed = 0;
    for (int look = 0; look < 60 && changed <= first.size() / 20; ++look)
    {
        QThread::msleep(500);
        const std::vector<unsigned long> later = Screenshot(display.get(), window, width, height);
        ASSERT_EQ(later.size(), first.size());
        changed = 0;
        for (size_t i = 0; i < first.size(); ++i)
        {
            changed += first[i] != later[i];
        }
    }
    EXPECT_GT(changed, first.size() / 20)
        << "with the camera still, the shading hardly changed in 30 seconds";

    process.terminate();
    ASSERT_TRUE(process.waitForFinished(30000));
    const QString log = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_TRUE(log.contains("Num Positions: ")) << log.toStdString();
    EXPECT_TRUE(log.contains("Num Tessellation Vertices: ")) << log.toStdString();
    EXPECT_TRUE(log.contains("OpenCL device: pthread")) << log.toStdString();
    EXPECT_EQ(log.count("OpenCL platform \"Broken ICD\" skipped: clGetDeviceInfo failed, "
                        "status -5"),
              1)
        << log.toStdString();
    EXPECT_LT(log.indexOf("Num Positions: "), log.indexOf("Num Tessellation Vertices: "));
}

// The program's top-level window once its title shows a frame rate: frames are running.
// Only the window of this process: other tests may run demos on the same display.
Window WaitForFrames(Display* display, QProcess& process)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 180000 && process.state() == QProcess::Running)
    {
        std::string title;
        const Window found = FindWindowNamed(display, "FPS: ", &title, process.processId());
        if (found)
        {
            return found;
        }
        QThread::msleep(50);
    }
    return 0;
}

// What a window manager sends when the user closes the window.
void RequestClose(Display* display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

TEST(BadData, AKernelThatNeverEndsIsNamedAndAFramesRunOrACloseEndsWithStatus1)
{
    std::string source = ReadDefaultKernel();
    const size_t at = source.find("__kernel void VertexShader");
    ASSERT_NE(at, std::string::npos);
    source.insert(source.find('{', at) + 1,
                  "\n    volatile int forever = 1;\n    while (forever) {}\n");
    const DataCopy data(source);
    const QString named = "vertexshadows: the device has not finished the kernel \"VertexShader\" "
                          "in 10 s";
    const Outcome frames =
        RunProgram(data.Path(), ProgramEnvironment(), 120000, {"--frames", "1", "--no-music"});
    ASSERT_TRUE(frames.finished);
    EXPECT_EQ(frames.exitCode, 1);
    EXPECT_TRUE(frames.standardError.contains(named + "; the run ends\n"))
        << frames.standardError.toStdString();

    // Interactive: the window still answers a close once the wait has been named.
    DisplayConnection display = OpenDisplay();
    ASSERT_TRUE(display);
    QProcess process;
    process.setWorkingDirectory(data.Path());
    process.setProcessEnvironment(ProgramEnvironment());
    process.start(kProgram, {"--no-music"});
    ASSERT_TRUE(process.waitForStarted());
    QString log;
    QElapsedTimer clock;
    clock.start();
    while (!log.contains(named) && clock.elapsed() < 120000 && process.state() == QProcess::Running)
    {
        process.waitForReadyRead(200);
        log += QString::fromLocal8Bit(process.readAllStandardError());
    }
    std::string title;
    const Window window = FindWindowNamed(display.get(), "MainWindow", &title, process.processId());
    if (!window)
    {
        process.kill();
        process.waitForFinished();
        FAIL() << "no window: " << log.toStdString();
    }
    RequestClose(display.get(), window);
    const bool ended = process.waitForFinished(30000);
    if (!ended)
    {
        process.kill();
        process.waitForFinished();
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(process.exitCode(), 1);
    log += QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_TRUE(log.contains("vertexshadows: closed while the device had not finished the kernel "
                             "\"VertexShader\"; ending without releasing it\n"))
        << log.toStdString();
}

TEST(DefaultData, ClosingTheWindowWhileFramesRunEndsTheProgramPromptlyWithStatus0)
{
    // A frame drawn after the close, into a window Qt has destroyed, crashed the
    // rasteriser or hung the swap. The close lands at a different point of a frame in
    // each run.
    DisplayConnection display = OpenDisplay();
    ASSERT_TRUE(display);
    for (const int delayMs : {0, 170, 430})
    {
        QProcess process;
        process.setWorkingDirectory(kDataDir);
        process.setProcessEnvironment(ProgramEnvironment());
        process.start(kProgram, QStringList());
        ASSERT_TRUE(process.waitForStarted());
        const Window window = WaitForFrames(display.get(), process);
        ASSERT_NE(window, 0u)
            << QString::fromLocal8Bit(process.readAllStandardError()).toStdString();
        QThread::msleep(delayMs);

        RequestClose(display.get(), window);
        QElapsedTimer clock;
        clock.start();
        const bool ended = process.waitForFinished(15000);
        const qint64 ms = clock.elapsed();
        if (!ended)
        {
            process.kill();
            process.waitForFinished();
        }
        const QString log = QString::fromLocal8Bit(process.readAllStandardError());
        ASSERT_TRUE(ended) << "still running 15 s after the close; " << log.toStdString();
        // A frame takes well under a second even here (sanitizers, a shared machine).
        EXPECT_LT(ms, 5000) << log.toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << log.toStdString();
        EXPECT_EQ(process.exitCode(), 0) << log.toStdString();
        EXPECT_FALSE(log.contains("vertexshadows: ")) << log.toStdString();
        EXPECT_FALSE(log.contains("X Error")) << log.toStdString();
        EXPECT_FALSE(log.contains("Sanitizer")) << log.toStdString();
    }
}

} // namespace
