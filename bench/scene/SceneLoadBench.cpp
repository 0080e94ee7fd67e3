// scene_bench: how long the scene's part of start-up takes, step by step, for the
// shipped scene and for the same scene scaled up twice in each direction (four times
// the area, so about four times the tessellated vertices). Run it from data/:
//
//   cd data && DISPLAY=... ../build/<dir>/bench/scene/scene_bench [repetitions]
//
// Each step is timed on a fresh model; the report gives the first repetition (cold:
// the driver compiles shaders, the files come from disk), the median and the fastest. OpenGL work
// is finished (glFinish) before a step's clock stops.
#include "app/Camera.h"
#include "platform/GlContext.h"
#include "scene/Model.h"
#include "scene/RasterPass.h"
#include "scene/ShaderProgram.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Copies the scene directory, every file as it is except Scene.obj, whose positions are
// all scaled by factor.
bool WriteScaledCopy(const QString& from, const QString& to, double factor)
{
    if (!QDir().mkpath(to))
    {
        return false;
    }
    const QDir source(QDir(from).absolutePath());
    QDirIterator files(source.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
    {
        const QString path = files.next();
        const QString name = source.relativeFilePath(path);
        if (name == "Scene.obj")
        {
            continue;
        }
        const QString copy = to + "/" + name;
        if (!QDir().mkpath(QFileInfo(copy).path()) || !QFile::copy(path, copy))
        {
            return false;
        }
    }
    std::ifstream in((from + "/Scene.obj").toStdString());
    std::ofstream out((to + "/Scene.obj").toStdString());
    std::string line;
    while (std::getline(in, line))
    {
        if (line.rfind("v ", 0) == 0)
        {
            std::istringstream fields(line.substr(2));
            double x, y, z;
            fields >> x >> y >> z;
            out << "v " << x * factor << ' ' << y * factor << ' ' << z * factor << '\n';
        }
        else
        {
            out << line << '\n';
        }
    }
    return in.eof() && out.good();
}

struct Timings
{
    std::map<std::string, std::vector<double>> steps;
    std::vector<std::string> order;
    size_t positions = 0, vertices = 0;

    void Add(const std::string& step, double ms)
    {
        if (!steps.count(step))
        {
            order.push_back(step);
        }
        steps[step].push_back(ms);
    }
};

void TimeLoad(const QString& directory, const Mat4& viewProj, GLuint program, Timings& t)
{
    Model model;
    // Each step of the load is timed from the end of the one before, its OpenGL work
    // finished.
    LoadOptions options;
    Clock::time_point stepStart = Clock::now();
    double total = 0;
    options.stepDone = [&](const char* step)
    {
        glFinish();
        const Clock::time_point now = Clock::now();
        const double ms = Milliseconds(stepStart, now);
        t.Add(step, ms);
        total += ms;
        stepStart = Clock::now();
    };
    model.Load(directory, "Scene.obj", options);
    t.Add("= Model::Load", total);
    const auto drawStart = Clock::now();
    DrawModel(model, program, viewProj);
    glFinish();
    t.Add("first draw", Milliseconds(drawStart, Clock::now()));
    t.positions = model.GetPositions().size();
    t.vertices = model.GetVertices().size();
}

void Report(const char* title, Timings& t)
{
    std::printf("\n%s", title);
    if (t.positions)
    {
        std::printf(": %zu positions (%zu coarse triangles), %zu tessellated vertices", t.positions,
                    t.positions / 3, t.vertices);
    }
    std::printf("\n");
    std::printf("  %-18s %10s %10s %10s\n", "step", "first ms", "median ms", "best ms");
    for (const std::string& name : t.order)
    {
        std::vector<double> v = t.steps[name];
        const double first = v.front();
        std::sort(v.begin(), v.end());
        std::printf("  %-18s %10.1f %10.1f %10.1f\n", name.c_str(), first, v[v.size() / 2],
                    v.front());
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    auto context = platform::GlContext::CreateHidden(800, 600);

    // The program, as start-up builds it; timed once per repetition too.
    Timings shaders;
    GLuint program = 0;
    for (int r = 0; r < repetitions; ++r)
    {
        const auto start = Clock::now();
        if (program)
        {
            glDeleteProgram(program);
        }
        program = LoadShaderProgram("VertexShader.txt", "FragmentShader.txt");
        glFinish();
        shaders.Add("shader program", Milliseconds(start, Clock::now()));
    }

    // The demo's first view (light angle 0) in a 4:3 window.
    const Mat4 viewProj =
        Multiply(Perspective(4.0f / 3.0f), LookAt(CameraPosition(0.0f), {0, 1, 0}, {0, 1, 0}));

    QTemporaryDir scratch;
    const QString large = scratch.path() + "/OBJ";
    if (!WriteScaledCopy("OBJ", large, 2.0))
    {
        std::fprintf(stderr, "scene_bench: cannot write the scaled scene (run it from data/)\n");
        return 1;
    }
    Timings shipped, scaled;
    for (int r = 0; r < repetitions; ++r)
    {
        TimeLoad("OBJ", viewProj, program, shipped);
        TimeLoad(large, viewProj, program, scaled);
    }

    std::printf("scene_bench: %d repetitions\n", repetitions);
    Report("Shader program", shaders);
    Report("Shipped scene (OBJ/Scene.obj)", shipped);
    Report("Scene scaled x2 per axis (4x area)", scaled);
    return 0;
}
