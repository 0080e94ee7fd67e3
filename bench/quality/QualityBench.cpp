// bench_quality: how close the per-vertex shadows come to the per-pixel reference, and
// what each costs.
//
// For a scene, its settings and one or more light angles, renders the demo's frame at
// each angle (the camera and the light where the demo has them at that angle) twice
// through the same Demo the window drives: per vertex, and as the per-pixel reference.
// Of the pixels that show a surface, it counts those whose luminance in the per-vertex
// picture lies within 15 % (and 5 %) of the reference's, saves a difference picture, and
// times whole frames of the two modes alternately in the same run. Run from data/, on a
// display (Xvfb will do).
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/Demo.h"
#include "app/FatalError.h"
#include "app/FrameStatistics.h"
#include "app/Screenshot.h"
#include "platform/GlContext.h"

#include <QCoreApplication>
#include <QImage>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace
{

const char* const kBenchUsage =
    "usage: bench_quality [--scene FILE] [--ground] [--detail AREA] [--angle RADIANS]... "
    "[--repeat N] [--size WIDTHxHEIGHT] [--diff PREFIX] [--refine] [--edge-pixels N] [--rings N] "
    "[--cuts N] [--cut-rounds N] [--probes 0|1] [--crop X,Y,WxH]";

struct Arguments
{
    std::string scene;
    bool ground = false;
    double detail = 0.0;
    std::vector<float> angles;
    int repeat = 5;
    int width = 800;
    int height = 600;
    // Difference pictures go to PREFIX-<angle>.png; none without.
    std::string diffPrefix;
    // With --diff, the region whose enlarged crops of the three pictures (per vertex,
    // refined, reference) go side by side to PREFIX-crops-<angle>.png.
    int cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
    // Also the refinement where the shadows fall, on its coarser mesh, judged by the same
    // reference and timed in the same run.
    bool refine = false;
    // The refined sub-edges' length on screen.
    float edgePixels = kRefinedEdgePixels;
    int rings = kRefinedRings;
    // The sub-triangles cut along the sun's edge a frame; 0 cuts none.
    int cuts = kRefinedCutCapacity;
    int cutRounds = kRefinedCutRounds;
    bool probes = kRefinedProbes;
};

// The same region of each picture, enlarged three times without smoothing, side by side.
QImage SideBySideCrops(const std::vector<const QImage*>& pictures, const Arguments& arguments)
{
    const int scale = 3, gap = 6;
    const int width = arguments.cropWidth * scale, height = arguments.cropHeight * scale;
    const int count = static_cast<int>(pictures.size());
    QImage out(count * width + (count - 1) * gap, height, QImage::Format_RGB32);
    out.fill(Qt::white);
    for (int k = 0; k < count; ++k)
    {
        const QImage crop =
            pictures[static_cast<size_t>(k)]
                ->copy(arguments.cropX, arguments.cropY, arguments.cropWidth, arguments.cropHeight)
                .convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
        {
            for (int x = 0; x < width; ++x)
            {
                out.setPixel(k * (width + gap) + x, y, crop.pixel(x / scale, y / scale));
            }
        }
    }
    return out;
}

bool Parse(int argc, char** argv, Arguments& arguments)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string name = argv[i];
        const bool hasValue = i + 1 < argc;
        if (name == "--ground")
        {
            arguments.ground = true;
        }
        else if (name == "--refine")
        {
            arguments.refine = true;
        }
        else if (name == "--rings" && hasValue)
        {
            arguments.rings = std::max(1, std::atoi(argv[++i]));
        }
        else if (name == "--cut-rounds" && hasValue)
        {
            arguments.cutRounds = std::max(1, std::atoi(argv[++i]));
        }
        else if (name == "--probes" && hasValue)
        {
            arguments.probes = std::atoi(argv[++i]) != 0;
        }
        else if (name == "--cuts" && hasValue)
        {
            arguments.cuts = std::max(0, std::atoi(argv[++i]));
        }
        else if (name == "--edge-pixels" && hasValue)
        {
            arguments.edgePixels = static_cast<float>(std::atof(argv[++i]));
        }
        else if (name == "--scene" && hasValue)
        {
            arguments.scene = argv[++i];
        }
        else if (name == "--detail" && hasValue)
        {
            arguments.detail = std::atof(argv[++i]);
        }
        else if (name == "--angle" && hasValue)
        {
            arguments.angles.push_back(static_cast<float>(std::atof(argv[++i])));
        }
        else if (name == "--repeat" && hasValue)
        {
            arguments.repeat = std::max(1, std::atoi(argv[++i]));
        }
        else if (name == "--size" && hasValue &&
                 std::sscanf(argv[++i], "%dx%d", &arguments.width, &arguments.height) == 2 &&
                 arguments.width > 0 && arguments.height > 0)
        {
        }
        else if (name == "--crop" && hasValue &&
                 std::sscanf(argv[++i], "%d,%d,%dx%d", &arguments.cropX, &arguments.cropY,
                             &arguments.cropWidth, &arguments.cropHeight) == 4 &&
                 arguments.cropWidth > 0 && arguments.cropHeight > 0)
        {
        }
        else if (name == "--diff" && hasValue)
        {
            arguments.diffPrefix = argv[++i];
        }
        else
        {
            return false;
        }
    }
    if (arguments.angles.empty())
    {
        // The frame `vertexshadows --frames 30 --screenshot` saves.
        arguments.angles.push_back(0.5f);
    }
    return true;
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values)
{
    if (values.empty())
    {
        return 0.0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double Luminance(QRgb pixel)
{
    return 0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel);
}

struct Agreement
{
    long surface = 0;
    long within15 = 0;
    long within5 = 0;
};

// Compares the pictures (top row first) over the surface pixels (bottom row first),
// and draws the difference: the reference in grey, a pixel that is brighter per vertex
// than in the reference (light where the reference has shadow) red, one that is darker
// blue; strong colours beyond 15 %, pale ones between 5 and 15 %; the background black.
Agreement Compare(const QImage& perVertex, const QImage& reference,
                  const std::vector<unsigned char>& surface, QImage& difference)
{
    const int width = reference.width(), height = reference.height();
    difference = QImage(width, height, QImage::Format_RGB32);
    Agreement agreement;
    for (int y = 0; y < height; ++y)
    {
        const auto* v = reinterpret_cast<const QRgb*>(perVertex.constScanLine(y));
        const auto* r = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
        auto* d = reinterpret_cast<QRgb*>(difference.scanLine(y));
        const size_t row = static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x)
        {
            if (!surface[row + static_cast<size_t>(x)])
            {
                d[x] = qRgb(0, 0, 0);
                continue;
            }
            ++agreement.surface;
            const double lv = Luminance(v[x]), lr = Luminance(r[x]);
            const double off = std::fabs(lv - lr);
            const int grey = 40 + static_cast<int>(lr * 0.5);
            d[x] = qRgb(grey, grey, grey);
            if (off <= 0.15 * lr)
            {
                ++agreement.within15;
                if (off <= 0.05 * lr)
                {
                    ++agreement.within5;
                    continue;
                }
                d[x] = lv > lr ? qRgb(255, 170, 150) : qRgb(150, 190, 255);
                continue;
            }
            d[x] = lv > lr ? qRgb(230, 20, 20) : qRgb(20, 60, 240);
        }
    }
    return agreement;
}

std::string CpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
    {
        if (line.rfind("model name", 0) == 0)
        {
            const size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

void PrintStages(const char* mode, const FrameSample& m)
{
    std::printf("  %-22s ray generation %6.2f, occlusion %6.2f, shadow write %6.2f, transfer "
                "%6.2f, raster %7.2f, whole frame %7.2f ms\n",
                mode, m.rayGeneration * 1e3, m.occlusion * 1e3, m.shadowWrite * 1e3,
                m.transfer * 1e3, m.raster * 1e3, m.frame * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Arguments arguments;
    if (!Parse(argc, argv, arguments))
    {
        std::fprintf(stderr, "%s\n", kBenchUsage);
        return 2;
    }
    try
    {
        const int width = arguments.width, height = arguments.height;
        auto gl = platform::GlContext::CreateHidden(width, height);
        glViewport(0, 0, width, height);

        Demo demo(*gl, StartCompute(nullptr));
        Settings settings;
        settings.scene = arguments.scene;
        settings.ground = arguments.ground;
        settings.detail = arguments.detail;
        settings.music = false;
        demo.LoadScene(SceneRequestFor(settings));
        // The refined frame's own demo: its mesh is loaded coarser.
        std::unique_ptr<Demo> refined;
        if (arguments.refine)
        {
            refined = std::make_unique<Demo>(*gl, StartCompute(nullptr));
            settings.refine = true;
            refined->LoadScene(SceneRequestFor(settings));
            refined->SetRefinedEdgePixels(arguments.edgePixels);
            refined->SetRefinedRings(arguments.rings);
            refined->SetRefinedCutCapacity(arguments.cuts);
            refined->SetRefinedProbes(arguments.probes);
            refined->SetRefinedCutRounds(arguments.cutRounds);
            std::printf("refined: %d vertices before refinement, sub-edges of about %.1f "
                        "pixels, %d ring(s) of neighbours\n",
                        refined->GetDeviceScene().vertexCount, double(arguments.edgePixels),
                        arguments.rings);
        }
        const int vertexCount = demo.GetDeviceScene().vertexCount;

        std::printf("cpu: %s\ndevice: %s\n", CpuModel().c_str(), demo.DescribeDevice().c_str());
        std::printf("scene: %s%s, detail %s, %zu coarse triangles, %d vertices; %d x %d pixels; "
                    "%d frames of each mode per angle\n",
                    arguments.scene.empty() ? "OBJ/Scene.obj" : arguments.scene.c_str(),
                    arguments.ground ? " --ground" : "",
                    arguments.detail > 0 ? std::to_string(arguments.detail).c_str() : "default",
                    demo.GetModel().GetIndices().size() / 3, vertexCount, width, height,
                    arguments.repeat);
        std::printf("| angle | surface pixels | agree within 15 %% | within 5 %% | per-vertex "
                    "frame | reference frame | reference / per-vertex |\n");

        for (const float angle : arguments.angles)
        {
            const CameraView view{CameraPosition(angle), kCameraTarget, LightDirection(angle)};
            demo.Render(view, width, height, true, true);
            const QImage perVertex = ReadBackBuffer(width, height);
            demo.RenderReference(view, width, height, true);
            const QImage reference = ReadBackBuffer(width, height);
            QImage difference;
            const Agreement agreement =
                Compare(perVertex, reference, demo.GetReference()->SurfacePixels(), difference);
            if (!arguments.diffPrefix.empty())
            {
                char name[64];
                std::snprintf(name, sizeof name, "-%.2f.png", double(angle));
                difference.save(QString::fromStdString(arguments.diffPrefix + name), "PNG");
            }
            Agreement refinedAgreement;
            if (refined)
            {
                refined->Render(view, width, height, true, true, true);
                const QImage picture = ReadBackBuffer(width, height);
                QImage refinedDifference;
                refinedAgreement = Compare(picture, reference, demo.GetReference()->SurfacePixels(),
                                           refinedDifference);
                if (!arguments.diffPrefix.empty())
                {
                    char name[64];
                    std::snprintf(name, sizeof name, "-refined-%.2f.png", double(angle));
                    refinedDifference.save(QString::fromStdString(arguments.diffPrefix + name),
                                           "PNG");
                    std::snprintf(name, sizeof name, "-picture-refined-%.2f.png", double(angle));
                    picture.save(QString::fromStdString(arguments.diffPrefix + name), "PNG");
                    std::snprintf(name, sizeof name, "-picture-uniform-%.2f.png", double(angle));
                    perVertex.save(QString::fromStdString(arguments.diffPrefix + name), "PNG");
                    std::snprintf(name, sizeof name, "-picture-reference-%.2f.png", double(angle));
                    reference.save(QString::fromStdString(arguments.diffPrefix + name), "PNG");
                    if (arguments.cropWidth > 0)
                    {
                        std::snprintf(name, sizeof name, "-crops-%.2f.png", double(angle));
                        SideBySideCrops({&perVertex, &picture, &reference}, arguments)
                            .save(QString::fromStdString(arguments.diffPrefix + name), "PNG");
                    }
                }
            }

            // Whole frames, the two modes in turn, so that both see the same machine.
            // Beside the wall-clock frame, the process's CPU time for it (OpenCL's and the
            // software rasteriser's threads run in this process), which other processes on
            // a shared machine disturb far less.
            FrameStatistics vertexFrames, referenceFrames, refinedFrames;
            std::vector<double> vertexCpu, refinedCpu;
            for (int r = 0; r < arguments.repeat; ++r)
            {
                double start = demo.Seconds();
                double cpuStart = ProcessCpuSeconds();
                FrameSample sample = demo.Render(view, width, height, true, true);
                sample.frame = demo.Seconds() - start;
                vertexCpu.push_back(ProcessCpuSeconds() - cpuStart);
                vertexFrames.Add(sample);
                start = demo.Seconds();
                sample = demo.RenderReference(view, width, height, true);
                sample.frame = demo.Seconds() - start;
                referenceFrames.Add(sample);
                if (refined)
                {
                    start = demo.Seconds();
                    cpuStart = ProcessCpuSeconds();
                    sample = refined->Render(view, width, height, true, true, true);
                    sample.frame = demo.Seconds() - start;
                    refinedCpu.push_back(ProcessCpuSeconds() - cpuStart);
                    refinedFrames.Add(sample);
                }
            }
            const FrameSample v = vertexFrames.Medians(), p = referenceFrames.Medians();
            const double surface = std::max(1.0, double(agreement.surface));
            std::printf("| %.2f | %ld | %.2f %% | %.2f %% | %.1f ms | %.1f ms | %.2f |\n",
                        double(angle), agreement.surface, 100.0 * agreement.within15 / surface,
                        100.0 * agreement.within5 / surface, v.frame * 1e3, p.frame * 1e3,
                        p.frame / v.frame);
            PrintStages("per vertex:", v);
            PrintStages("per-pixel reference:", p);
            if (refined)
            {
                const FrameSample r = refinedFrames.Medians();
                std::printf("| %.2f refined | %ld | %.2f %% | %.2f %% | %.1f ms | | refined / "
                            "per-vertex %.2f |\n",
                            double(angle), refinedAgreement.surface,
                            100.0 * refinedAgreement.within15 / surface,
                            100.0 * refinedAgreement.within5 / surface, r.frame * 1e3,
                            r.frame / v.frame);
                PrintStages("refined:", r);
                std::printf("  CPU time a frame: per vertex %.1f ms, refined %.1f ms, refined / "
                            "per-vertex %.2f\n",
                            Median(vertexCpu) * 1e3, Median(refinedCpu) * 1e3,
                            Median(refinedCpu) / Median(vertexCpu));
                const Refinement& refinement = *refined->GetRefinement();
                std::printf("  refined: %d triangles split into %d vertices, %d of %d "
                            "sub-triangles cut, in the last frame\n",
                            refinement.SplitTriangles(), refinement.RefinedVertices(),
                            refinement.Cuts(), refinement.CutsWanted());
            }
        }
        return 0;
    }
    catch (...)
    {
        const std::string message = DescribeException(std::current_exception());
        std::fprintf(stderr, "bench_quality: %s\n", message.c_str());
    }
    return 1;
}
