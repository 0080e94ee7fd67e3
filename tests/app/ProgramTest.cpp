// The whole program as a user runs it, on Xvfb and PoCL: its log and title with the
// default data, and the one clear line and exit status 1 for every kind of bad data.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

// After Qt and GoogleTest: Xlib's macros (None, Status, Bool) break their headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
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
                   int timeoutMs = 120000)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(environment);
    process.start(kProgram, QStringList());
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

// The X window whose name starts with prefix, among the root's children.
Window FindWindowNamed(Display* display, const std::string& prefix, std::string* name)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
    {
        for (unsigned i = 0; i < count && !found; ++i)
        {
            char* windowName = nullptr;
            if (XFetchName(display, children[i], &windowName) && windowName)
            {
                if (std::string(windowName).rfind(prefix, 0) == 0)
                {
                    found = children[i];
                    *name = windowName;
                }
                XFree(windowName);
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

    std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_TRUE(display);

    // Wait for the first frame-rate title (start-up loads, refines and uploads the scene).
    std::string title;
    Window window = 0;
    QElapsedTimer clock;
    clock.start();
    while (!window && clock.elapsed() < 180000 && process.state() == QProcess::Running)
    {
        QThread::msleep(200);
        window = FindWindowNamed(display.get(), "FPS: ", &title);
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

} // namespace
