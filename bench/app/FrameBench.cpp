// bench_frame [frames]: the demo's frame on the default scene, without a window.
//
// Loads the scene and renders its frames through the same Demo the window drives: the
// shadow pass (ray generation, occlusion, shadow write, transfer to OpenGL) and the
// raster pass at a turning light angle. Prints the median time of each stage and the
// rays per second, in the words of the demo's own --frames report. Run from data/, on
// a display (Xvfb will do): the raster pass needs an OpenGL context.
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/Demo.h"
#include "app/FatalError.h"
#include "app/FrameStatistics.h"
#include "platform/GlContext.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    try
    {
        const int width = 800, height = 600;
        auto gl = platform::GlContext::CreateHidden(width, height);
        glViewport(0, 0, width, height);

        Demo demo(*gl, StartCompute(nullptr));
        SceneRequest request;
        request.music = nullptr;
        const double loadStart = demo.Seconds();
        demo.LoadScene(request);
        const double loadSeconds = demo.Seconds() - loadStart;
        const int vertexCount = demo.GetDeviceScene().vertexCount;

        FrameStatistics statistics;
        float angle = 0.0f;
        for (int frame = 0; frame < frames + 5; ++frame)
        {
            const double frameStart = demo.Seconds();
            angle += 0.02f;
            const CameraView view{CameraPosition(angle), kCameraTarget, LightDirection(angle)};
            FrameSample sample = demo.Render(view, width, height, true, true);
            sample.frame = demo.Seconds() - frameStart;
            if (frame >= 5) // the first frames warm up: first-query allocations, caches
            {
                statistics.Add(sample);
            }
        }

        const FrameSample medians = statistics.Medians();
        const double shadowPass =
            medians.rayGeneration + medians.occlusion + medians.shadowWrite + medians.transfer;
        std::printf("device: %s\n", demo.DescribeDevice().c_str());
        std::printf("scene: %zu coarse triangles, %d vertices (rays per frame); load %.0f ms\n",
                    demo.GetModel().GetIndices().size() / 3, vertexCount, loadSeconds * 1e3);
        std::printf("%d frames, median per stage:\n", frames);
        for (const std::string& line : DescribeStages(medians, vertexCount))
        {
            std::printf("%s\n", line.c_str());
        }
        std::printf("shadow pass (sum of its stages' medians) / raster pass: %.2f\n",
                    shadowPass / medians.raster);
        return 0;
    }
    catch (...)
    {
        const std::string message = DescribeException(std::current_exception());
        std::fprintf(stderr, "bench_frame: %s\n", message.c_str());
    }
    return 1;
}
