// The program on the path of a GPU that shares its buffers with OpenGL, end to end: real
// kernels writing a real OpenGL vertex buffer through cl_khr_gl_sharing, with OpenGL's work
// awaited by a fence (cl_khr_gl_event) and by glFinish. The sharing OpenCL implementation of
// tests/icd, alone in each process, is PoCL presented as such a GPU; it fails and counts
// every misuse of a shared buffer. Each run's last picture must equal, pixel for pixel, the
// picture of the same frame from the same device without sharing (vertices copied through
// the host): the one difference between the runs is the path the vertices take to OpenGL.
#include "TestScenes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

namespace
{

const QString kProgram = VS_PROGRAM;
const QString kDataDir = VS_DATA_DIR;

// What the ICD offers, as VS_SHARING_ICD_OFFERS, and the path line the program then logs.
struct Path
{
    const char* offers;
    const char* line;
};
const Path kHostCopy{"none", "no OpenGL sharing, vertices copied to OpenGL through the host"};
const Path kFence{"both", "vertices shared with OpenGL, OpenGL's work awaited by an OpenGL fence "
                          "(cl_khr_gl_event)"};
const Path kFinish{"sharing", "vertices shared with OpenGL, OpenGL's work awaited by glFinish"};

struct Run
{
    QImage picture;
    QString report;
};

// The program with arguments on path, three frames and the last one's picture; with the
// ICD's counts of hand-overs and misuses.
Run RunOn(const Path& path, QStringList arguments, const QTemporaryDir& dir)
{
    const QString picture = dir.filePath(QString(path.offers) + ".png");
    const QString counts = dir.filePath(QString(path.offers) + ".counts");
    arguments << "--frames"
              << "3"
              << "--screenshot" << picture << "--no-music";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OCL_ICD_VENDORS", VS_OPENCL_VENDORS "/sharing");
    environment.insert("VS_SHARING_ICD_OFFERS", path.offers);
    environment.insert("VS_SHARING_ICD_REPORT", counts);
    QProcess process;
    process.setWorkingDirectory(kDataDir);
    process.setProcessEnvironment(environment);
    process.start(kProgram, arguments);
    const bool finished = process.waitForFinished(240000);
    if (!finished)
    {
        process.kill();
        process.waitForFinished();
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    const std::string what = std::string(path.offers) + " " + arguments.join(' ').toStdString();
    EXPECT_TRUE(finished) << what;
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << what << "\n" << err.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << what << "\n" << err.toStdString();
    EXPECT_TRUE(out.contains(QString("; ") + path.line + "\n")) << what << "\n"
                                                                << out.toStdString();

    QFile file(counts);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << what;
    return {QImage(picture).convertToFormat(QImage::Format_RGB32),
            QString::fromLatin1(file.readAll()).trimmed()};
}

// Both sharing paths against the host copy, on the program with arguments.
void ExpectSharingDrawsAsTheHostCopy(const QStringList& arguments)
{
    QTemporaryDir dir;
    const Run host = RunOn(kHostCopy, arguments, dir);
    ASSERT_FALSE(host.picture.isNull());
    EXPECT_EQ(host.report, "acquires 0 releases 0 fence-waits 0 misuses 0");
    for (const Path& path : {kFence, kFinish})
    {
        const Run shared = RunOn(path, arguments, dir);
        const std::string what = std::string(path.offers) + " " + arguments.join(' ').toStdString();
        EXPECT_TRUE(shared.picture == host.picture) << what << ": the pictures differ";
        // Every pass handed the buffer over and back, none misused it, and only the fence
        // path waited on fences.
        const QStringList counts = shared.report.split(' ');
        ASSERT_EQ(counts.size(), 8) << what << ": " << shared.report.toStdString();
        EXPECT_GT(counts[1].toInt(), 0) << what;
        EXPECT_EQ(counts[3], counts[1]) << what;
        EXPECT_EQ(counts[5].toInt() > 0, path.offers == kFence.offers) << what;
        EXPECT_EQ(counts[7], "0") << what;
    }
}

TEST(GlSharingRun, TheDefaultScene)
{
    ExpectSharingDrawsAsTheHostCopy({});
}

class GlSharingRunOnOwnScene : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(testscenes::WriteObj(m_scene, testscenes::Scene(1.0, {0, 0, 0})));
    }

    QTemporaryDir m_dir;
    const QString m_scene = m_dir.filePath("scene.obj");
};

TEST_F(GlSharingRunOnOwnScene, OnTheGround)
{
    ExpectSharingDrawsAsTheHostCopy({"--scene", m_scene, "--ground"});
}

TEST_F(GlSharingRunOnOwnScene, ThePerPixelReference)
{
    ExpectSharingDrawsAsTheHostCopy({"--scene", m_scene, "--ground", "--reference"});
}

TEST_F(GlSharingRunOnOwnScene, TheRefinement)
{
    ExpectSharingDrawsAsTheHostCopy({"--scene", m_scene, "--ground", "--refine"});
}

} // namespace
