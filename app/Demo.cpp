#include "app/Demo.h"

#include "platform/GlContext.h"
#include "scene/RasterPass.h"
#include "scene/ShaderProgram.h"

#include <GL/glew.h>

#include <QFileInfo>

#include <future>
#include <system_error>
#include <utility>

SceneRequest SceneRequestFor(const Settings& settings)
{
    SceneRequest request;
    if (!settings.scene.empty())
    {
        const QFileInfo file(QString::fromStdString(settings.scene));
        request.directory = file.path().toStdString();
        request.fileName = file.fileName().toStdString();
        request.load.frame = true;
    }
    request.load.ground = settings.ground;
    request.load.detail = settings.detail;
    if (settings.refine)
    {
        request.load.coarsen = kRefinedCoarsening;
    }
    if (!settings.music)
    {
        request.music = nullptr;
    }
    return request;
}

Demo::Demo(platform::GlContext& gl, ComputeStartup compute)
    : m_gl(gl), m_compute(std::move(compute)), m_description(m_compute.description)
{
}

Demo::~Demo()
{
    m_gl.MakeCurrent();
}

void Demo::LoadScene(const SceneRequest& request)
{
    double stageStart = Seconds();
    const auto stageDone = [&](const char* stage)
    {
        if (request.stageDone)
        {
            const double now = Seconds();
            request.stageDone(stage, now - stageStart);
            stageStart = now;
        }
    };
    m_gl.MakeCurrent();
    if (request.music)
    {
        m_music = std::make_unique<Music>(request.music);
    }

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
    m_gl.SetSwapInterval(0);
    glClearColor(0.5f, 0.5f, 1.0f, 1.0f);

    m_program = GlProgram(LoadShaderProgram("VertexShader.txt", "FragmentShader.txt"));
    stageDone("shader program");
    LoadOptions load = request.load;
    if (request.stageDone)
    {
        load.stepDone = [&, next = load.stepDone](const char* step)
        {
            if (next)
            {
                next(step);
            }
            stageDone(step);
        };
    }
    // The occluder needs only the coarse triangles: it is built on a thread of its own while
    // the model's vertices are uploaded and copied to the device, which make no call to the
    // service. Whatever leaves this function first waits for the build (the future does).
    double occluderSeconds = 0.0;
    std::future<OccluderShape> occluderBuild;
    load.coarseReady = [&, next = load.coarseReady]
    {
        if (next)
        {
            next();
        }
        RadeonRays::IntersectionApi* api = m_compute.api.get();
        try
        {
            occluderBuild = std::async(std::launch::async,
                                       [this, api, &occluderSeconds]
                                       {
                                           const double start = Seconds();
                                           OccluderShape occluder = CommitOccluder(api, m_model);
                                           occluderSeconds = Seconds() - start;
                                           return occluder;
                                       });
        }
        catch (const std::system_error&)
        {
            // Without a thread to spare, CreateDeviceScene builds it.
        }
    };
    m_model.Load(QString::fromStdString(request.directory),
                 QString::fromStdString(request.fileName), load);

    const bool builtBeside = occluderBuild.valid();
    m_deviceScene =
        CreateDeviceScene(m_compute.context, m_compute.api.get(), m_model, request.destination,
                          std::move(m_compute.glSharing), stageDone, std::move(occluderBuild));
    if (builtBeside && request.stageDone)
    {
        // The build's own time, beside the stages from the textures on.
        request.stageDone("occluder build", occluderSeconds);
    }
    if (!m_deviceScene.sharingRefusal.empty())
    {
        m_description = DescribePath(m_compute.deviceName, m_deviceScene.sharingRefusal);
    }
}

FrameSample Demo::Render(const CameraView& view, int width, int height, bool castShadows,
                         bool measure, bool refine)
{
    FrameSample sample;
    RunShadowPass(m_compute.context, m_compute.program, m_compute.api.get(), m_deviceScene,
                  m_model.GetWorld(), view.eye, view.target, view.light, &sample, castShadows);
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    const Float3 up{0.0f, 1.0f, 0.0f};
    const Mat4 viewProj = Multiply(Perspective(aspect), LookAt(view.eye, view.target, up));
    const bool refined = refine && castShadows;
    if (refined)
    {
        if (!m_refinement)
        {
            m_refinement = std::make_unique<Refinement>(
                m_compute.context, m_compute.program, m_compute.api.get(), m_model, m_deviceScene,
                m_refinedEdgePixels, kRefinedVertexBudget, m_refinedRings, m_refinedCutCapacity,
                m_refinedCutRounds, m_refinedProbes);
        }
        m_refinement->Run(m_deviceScene, m_model.GetWorld(), viewProj, width, height, view.light,
                          &sample);
    }

    const double rasterStart = Seconds();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (refined)
    {
        // The mesh a little behind the split triangles drawn over it, so that they win
        // the depth test and any gap between them shows the mesh. They lie in the same
        // planes, so a constant offset is enough; one that grows with the slope would
        // push a steep face behind its neighbour along their shared edge, and the
        // neighbour's colour would spill a pixel over it.
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(0.0f, kRefinedMeshDepthOffset);
        DrawModel(m_model, m_program.Get(), viewProj);
        glDisable(GL_POLYGON_OFFSET_FILL);
        glUseProgram(m_program.Get());
        glUniformMatrix4fv(glGetUniformLocation(m_program.Get(), "matViewProj"), 1, GL_FALSE,
                           viewProj.m);
        m_refinement->Draw(m_model, m_program.Get());
        glUseProgram(0);
    }
    else
    {
        DrawModel(m_model, m_program.Get(), viewProj);
    }
    if (measure)
    {
        glFinish();
    }
    sample.raster = Seconds() - rasterStart;
    return sample;
}

FrameSample Demo::RenderReference(const CameraView& view, int width, int height, bool measure)
{
    FrameSample sample;
    RunShadowPass(m_compute.context, m_compute.program, m_compute.api.get(), m_deviceScene,
                  m_model.GetWorld(), view.eye, view.target, view.light, &sample, false);
    if (!m_reference)
    {
        m_reference = std::make_unique<PixelReference>(m_compute.context, m_compute.program,
                                                       m_compute.api.get());
    }

    const double rasterStart = Seconds();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    sample.raster = Seconds() - rasterStart;
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    const Float3 up{0.0f, 1.0f, 0.0f};
    m_reference->Render(m_model, m_program.Get(), m_deviceScene,
                        Multiply(Perspective(aspect), LookAt(view.eye, view.target, up)),
                        view.light, width, height, sample);
    if (measure)
    {
        const double finishStart = Seconds();
        glFinish();
        sample.raster += Seconds() - finishStart;
    }
    return sample;
}

std::int64_t Demo::Nanoseconds() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                m_clockStart)
        .count();
}
