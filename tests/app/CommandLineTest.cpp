// The program's command line as a user types it, on Xvfb and PoCL: refusals, the
// --frames report, and scenes of our own making in other formats, units and places,
// framed the same way.
#include "TestScenes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace
{

const QString kProgram = VS_PROGRAM;
const QString kDataDir = VS_DATA_DIR;
const QString kUsage = "usage: vertexshadows [--scene FILE] [--ground] [--detail AREA] "
                       "[--frames N] [--screenshot FILE.png] [--no-music] [--reference] [--refine] "
                       "[--help]";

struct Outcome
{
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    QString standardOutput;
    QString standardError;
};

Outcome RunProgram(const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("SDL_AUDIODRIVER", "dummy");
    QProcess process;
    process.setWorkingDirectory(kDataDir);
    process.setProcessEnvironment(environment);
    process.start(kProgram, arguments);
    Outcome outcome;
    outcome.finished = process.waitForFinished(240000);
    if (!outcome.finished)
    {
        process.kill();
        process.waitForFinished();
    }
    outcome.crashed = process.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = process.exitCode();
    outcome.standardOutput = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.standardError = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

TEST(CommandLine, EveryRefusalShowsTheUsageLineAndEndsWithStatus2)
{
    const QStringList refused[] = {
        {"--bogus"},        {"--frames"},        {"--frames", "0"},         {"--frames", "3x"},
        {"--detail", "-1"}, {"--detail", "nan"}, {"--screenshot", "a.jpg"}, {"--ground=yes"},
        {"--scene", ""},    {"extra"},
    };
    for (const QStringList& arguments : refused)
    {
        const Outcome outcome = RunProgram(arguments);
        const std::string what = arguments.join(' ').toStdString();
        ASSERT_TRUE(outcome.finished) << what;
        EXPECT_EQ(outcome.exitCode, 2) << what;
        EXPECT_TRUE(outcome.standardError.contains(kUsage))
            << what << ": " << outcome.standardError.toStdString();
    }
    const Outcome help = RunProgram({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.standardOutput.contains(kUsage)) << help.standardOutput.toStdString();
}

TEST(CommandLine, AScenesProblemsAreOneLineAndStatus1)
{
    // A file that cannot be imported, and a detail the vertex budget cannot hold.
    const Outcome missing = RunProgram({"--scene", "/nonexistent/model.obj"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.standardError.contains(
        "vertexshadows: Cannot load the scene \"/nonexistent/model.obj\""))
        << missing.standardError.toStdString();
    const Outcome tooFine = RunProgram({"--detail", "1e-9", "--no-music"});
    EXPECT_EQ(tooFine.exitCode, 1);
    // The budget says what it means in memory, and the advice fits the cause.
    EXPECT_TRUE(tooFine.standardError.contains(" % of this machine's "))
        << tooFine.standardError.toStdString();
    EXPECT_TRUE(tooFine.standardError.contains("; give a --detail of at least "))
        << tooFine.standardError.toStdString();
}

TEST(CommandLine, HostileSceneFilesEndWithOneLineNamingTheFileAndStatus1)
{
    const std::string plyHeader = "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\n"
                                  "property float y\nproperty float z\nelement face 2\n"
                                  "property list uchar int vertex_indices\nend_header\n";
    const std::string corners = "0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n1 0 1\n";
    const std::string binaryHeader =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
        "property float y\nproperty float z\nelement face 1\n"
        "property list uchar int vertex_indices\nend_header\n";
    struct Case
    {
        const char* name;
        std::string contents;
        const char* reason;
    };
    const Case cases[] = {
        // Faces declared and never given.
        {"truncated.ply", plyHeader + corners, "it contains no triangles"},
        // Faces of no corners: the importer's own assertion aborts it.
        {"empty-faces.ply", plyHeader + corners + "0\n0\n", "the importer crashed on it"},
        // The importer's own refusal, in our words.
        {"cut.ply", binaryHeader + "\x01\x02\x03\x04\x05", "the importer cannot read it"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases)
    {
        const QString path = dir.filePath(c.name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents.data(), static_cast<qint64>(c.contents.size()));
        file.close();
        const Outcome outcome = RunProgram({"--scene", path, "--no-music"});
        ASSERT_TRUE(outcome.finished) << c.name;
        EXPECT_FALSE(outcome.crashed) << c.name;
        EXPECT_EQ(outcome.exitCode, 1) << c.name;
        const QString line = "vertexshadows: Cannot load the scene \"" + path + "\": " + c.reason;
        EXPECT_EQ(outcome.standardError.count("vertexshadows: "), 1)
            << outcome.standardError.toStdString();
        EXPECT_TRUE(outcome.standardError.contains(line)) << outcome.standardError.toStdString();
    }
}

TEST(CommandLine, FramesPrintsEveryStageAndEndsWithStatus0)
{
    const Outcome outcome = RunProgram({"--frames", "30", "--no-music"});
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.toStdString();
    const QString report = outcome.standardOutput;
    EXPECT_TRUE(report.contains("30 frames of 353640 vertices")) << report.toStdString();
    for (const char* stage :
         {"ray generation", "occlusion", "shadow write", "transfer", "raster", "whole frame"})
    {
        EXPECT_TRUE(report.contains(QString("  ") + stage + " ")) << stage;
    }
    EXPECT_TRUE(report.contains("Mrays/s")) << report.toStdString();
    // The shipped scene's start-up lines are those of a run without options: the counts,
    // and no stage times.
    EXPECT_TRUE(outcome.standardError.contains("Num Positions:  29892"));
    EXPECT_TRUE(outcome.standardError.contains("Num Tessellation Vertices:  353640"));
    EXPECT_FALSE(outcome.standardError.contains("Start-up:"))
        << outcome.standardError.toStdString();
}

// The picture of the first frame of scene on --ground.
QImage FirstFrame(const QString& scene, const QTemporaryDir& dir)
{
    const QString picture = dir.filePath(QFileInfo(scene).fileName() + ".png");
    const Outcome outcome = RunProgram(
        {"--scene", scene, "--ground", "--frames", "1", "--screenshot", picture, "--no-music"});
    EXPECT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.toStdString();
    // A scene given by name says how long each stage of its start-up took, in order.
    const QStringList stages = {"compute",        "import",        "hand-back",    "detail search",
                                "refinement",     "textures",      "vertex array", "upload",
                                "device buffers", "occluder build"};
    int at = -1;
    for (const QString& stage : stages)
    {
        const int found = outcome.standardError.indexOf(
            QRegularExpression("Start-up: " + stage + " [0-9]+\\.[0-9]{2} s\n"), at + 1);
        EXPECT_GT(found, at) << stage.toStdString() << "\n" << outcome.standardError.toStdString();
        at = std::max(at, found);
    }
    return QImage(picture).convertToFormat(QImage::Format_RGB32);
}

// The share of pixels that differ by more than a quarter of the range in any channel.
double DifferentShare(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
    {
        return 1.0;
    }
    long different = 0;
    for (int y = 0; y < a.height(); ++y)
    {
        for (int x = 0; x < a.width(); ++x)
        {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            different += std::abs(qRed(p) - qRed(q)) > 64 || std::abs(qGreen(p) - qGreen(q)) > 64 ||
                         std::abs(qBlue(p) - qBlue(q)) > 64;
        }
    }
    return double(different) / (a.width() * a.height());
}

// The share of pixels that are not the sky's light blue.
double SceneShare(const QImage& image)
{
    long scene = 0;
    for (int y = 0; y < image.height(); ++y)
    {
        for (int x = 0; x < image.width(); ++x)
        {
            const QRgb p = image.pixel(x, y);
            scene +=
                !(std::abs(qRed(p) - 128) < 4 && std::abs(qGreen(p) - 128) < 4 && qBlue(p) > 250);
        }
    }
    return double(scene) / (image.width() * image.height());
}

TEST(CommandLine, AModelInAnyUnitAndPlaceIsFramedTheSame)
{
    QTemporaryDir dir;
    const QString metres = dir.filePath("metres.obj");
    const QString millimetres = dir.filePath("millimetres.obj");
    const QString farAway = dir.filePath("far.obj");
    ASSERT_TRUE(testscenes::WriteObj(metres, testscenes::Scene(1.0, {0, 0, 0})));
    ASSERT_TRUE(testscenes::WriteObj(millimetres, testscenes::Scene(1000.0, {0, 0, 0})));
    ASSERT_TRUE(testscenes::WriteObj(farAway, testscenes::Scene(1.0, {-300, -120, -450})));

    const QImage reference = FirstFrame(metres, dir);
    ASSERT_FALSE(reference.isNull());
    // Framed: the scene and its floor fill most of the view, and the floor shows the
    // shadow of the raised slab (pixels much darker than the lit floor).
    EXPECT_GT(SceneShare(reference), 0.5);
    EXPECT_LT(SceneShare(reference), 0.98);
    EXPECT_LT(DifferentShare(FirstFrame(millimetres, dir), reference), 0.01);
    EXPECT_LT(DifferentShare(FirstFrame(farAway, dir), reference), 0.01);
}

TEST(CommandLine, GltfAndPlyScenesLoadAndDrawLikeTheirObj)
{
    QTemporaryDir dir;
    const testscenes::Mesh mesh = testscenes::Scene(1.0, {0, 0, 0});
    ASSERT_TRUE(testscenes::WriteObj(dir.filePath("model.obj"), mesh));
    ASSERT_TRUE(testscenes::WriteGltf(dir.filePath("model.gltf"), mesh));
    ASSERT_TRUE(testscenes::WritePly(dir.filePath("model.ply"), mesh));
    const QImage reference = FirstFrame(dir.filePath("model.obj"), dir);
    ASSERT_FALSE(reference.isNull());
    EXPECT_LT(DifferentShare(FirstFrame(dir.filePath("model.gltf"), dir), reference), 0.01);
    EXPECT_LT(DifferentShare(FirstFrame(dir.filePath("model.ply"), dir), reference), 0.01);
}

} // namespace
