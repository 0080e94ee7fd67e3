#pragma once
// The demo without its window: the compute objects, the music, the shader program, the
// scene and the device memory of the shadow pass, and the one clock every figure is read
// from. It renders one frame for a given view and says what each stage cost. The window,
// the frame benchmark and the tests all drive it, so the frame is written once.
//
// It owns everything it holds; its members are declared so that each goes before what
// it refers to: the device scene before the model whose buffer it may share and before
// the intersection service that made its views, the OpenCL context last. The OpenGL
// context stays with the caller: it must be current on this thread whenever the demo
// is used, and outlive it.
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/FrameStatistics.h"
#include "app/Music.h"
#include "app/Options.h"
#include "app/PixelReference.h"
#include "app/Refinement.h"
#include "app/ShadowPass.h"
#include "scene/GlObject.h"
#include "scene/Model.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform
{
class GlContext;
}

// The scene to show and how to load it.
struct SceneRequest
{
    std::string directory = "OBJ";
    std::string fileName = "Scene.obj";
    LoadOptions load;
    // The music file to loop, or null for none.
    const char* music = "WINDWLKR.S3M";
    DrawnVertices destination = DrawnVertices::InOpenGlBuffer;
    // Where given, told each stage of LoadScene as it ends, with its seconds: for people
    // waiting on a large scene.
    std::function<void(const char* stage, double seconds)> stageDone;
};

// With --refine the mesh is loaded with triangles this many times larger in area: the
// refinement puts the vertices back where the shadows fall.
constexpr double kRefinedCoarsening = 4.0;
// A split triangle's sub-edges are made about this many pixels long on screen.
constexpr float kRefinedEdgePixels = 6.0f;
// The rings of edge neighbours split with a triangle whose corners disagree.
constexpr int kRefinedRings = 1;
// The vertices each level of split triangles above the lowest may make in a frame.
constexpr int kRefinedVertexBudget = 512 * 1024;
// The sub-triangles that may be cut along the sun's edge in a frame.
constexpr int kRefinedCutCapacity = 64 * 1024;
// The rounds of bisection, one ray each, that find where the sun's edge crosses a side of a
// cut sub-triangle.
constexpr int kRefinedCutRounds = 4;
// Whether the base triangles' edge midpoints are probed for shadows between their corners.
constexpr bool kRefinedProbes = true;

// The scene the settings ask for. Without a scene, a floor or a detail of its own, this
// is the shipped OBJ/Scene.obj in its own units; a scene file given by name is framed.
SceneRequest SceneRequestFor(const Settings& settings);

class Demo
{
public:
    // Takes over the compute start-up's objects.
    Demo(platform::GlContext& gl, ComputeStartup compute);
    // Makes the OpenGL context current, so that the OpenGL objects can go.
    ~Demo();

    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // The rest of start-up, once: the music, the fixed OpenGL state, the shader program,
    // the model, and the device scene with the model's coarse triangles committed as
    // the occluder. Throws what Model::Load and LoadShaderProgram throw, and the OpenCL
    // wrapper's exceptions; what was made before stays owned and goes with the demo.
    void LoadScene(const SceneRequest& request);

    // One frame seen from view into a drawable of width x height: the shadow pass (only
    // its rays' kernel without castShadows: everything lit), the clear and the raster
    // pass. With measure, OpenGL's work is finished before the raster time is read, so
    // that it is the pass's own time and not its queueing. Returns each stage's seconds;
    // the whole frame's is left for the caller, who knows where its frame ends.
    // With refine (and castShadows), the triangles where the shadows fall are split and
    // drawn over the mesh (see Refinement); the first such frame makes its objects.
    FrameSample Render(const CameraView& view, int width, int height, bool castShadows = true,
                       bool measure = false, bool refine = false);
    // The same frame as the per-pixel reference (see PixelReference): the same lighting,
    // with each pixel's own shadow ray instead of the vertices'. Its stages are timed as
    // PixelReference::Render says; the drawn vertices are left all blocked. The first
    // call makes the reference's objects, which stay until the demo goes.
    FrameSample RenderReference(const CameraView& view, int width, int height,
                                bool measure = false);

    // The demo's clock: nanoseconds since it was made, steady.
    std::int64_t Nanoseconds() const;
    double Seconds() const { return static_cast<double>(Nanoseconds()) * 1e-9; }

    const Model& GetModel() const { return m_model; }
    const DeviceScene& GetDeviceScene() const { return m_deviceScene; }
    // The path line: the device, and how the vertices reach OpenGL.
    const std::string& DescribeDevice() const { return m_description; }
    const ComputeStartup& GetCompute() const { return m_compute; }
    // The reference of the last RenderReference; null before the first.
    const PixelReference* GetReference() const { return m_reference.get(); }
    // The refinement of the last refined Render; null before the first.
    const Refinement* GetRefinement() const { return m_refinement.get(); }
    // The length on screen of a split triangle's sub-edges; takes effect before the first
    // refined Render.
    void SetRefinedEdgePixels(float pixels) { m_refinedEdgePixels = pixels; }
    // How many rings of edge neighbours around a triangle whose corners disagree are
    // split with it; takes effect before the first refined Render.
    void SetRefinedRings(int rings) { m_refinedRings = rings; }
    // The sub-triangles cut along the sun's edge a frame (0: none); before the first
    // refined frame.
    void SetRefinedCutCapacity(int cuts) { m_refinedCutCapacity = cuts; }
    // The rounds of bisection along each crossed side of a cut sub-triangle; before the
    // first refined frame.
    void SetRefinedCutRounds(int rounds) { m_refinedCutRounds = rounds; }
    // Whether the refinement probes the base triangles' edge midpoints for thin shadows;
    // before the first refined frame.
    void SetRefinedProbes(bool probes) { m_refinedProbes = probes; }

private:
    platform::GlContext& m_gl;
    const std::chrono::steady_clock::time_point m_clockStart = std::chrono::steady_clock::now();
    ComputeStartup m_compute;
    std::string m_description;
    std::unique_ptr<Music> m_music;
    GlProgram m_program;
    Model m_model;
    DeviceScene m_deviceScene;
    std::unique_ptr<PixelReference> m_reference;
    std::unique_ptr<Refinement> m_refinement;
    float m_refinedEdgePixels = kRefinedEdgePixels;
    int m_refinedRings = kRefinedRings;
    int m_refinedCutCapacity = kRefinedCutCapacity;
    int m_refinedCutRounds = kRefinedCutRounds;
    bool m_refinedProbes = kRefinedProbes;
};
