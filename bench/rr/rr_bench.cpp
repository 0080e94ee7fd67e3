// Occlusion throughput of the rr library against Embree 3 on the same rays, in one process.
//
//   rr_bench [--rays N] [--repeat R] [--builds B] [--gpu] [--per-ray]
//            [--only a1|a|b|c|d|e|f|s1|s2|s4|s10|m]...
//
// Workloads: (a) shadow rays from about a million points on a courtyard's surfaces, all toward
// one light, in surface order, against the courtyard itself (two levels of detail); (b) the
// same rays against the courtyard crowded to 100,000 triangles; (c) incoherent random rays
// against a 100,000-triangle soup; (d) shadow rays toward the same light from points drawn
// uniformly over the surfaces, in the order drawn, on the fine and the crowded courtyard; (e)
// the rays of (d) sorted by a Morton code of their origins; (f) rays from such points, in the
// order drawn, toward a point light above the courtyard. Scale: a bumpy torus of about 1, 2, 4
// and 10 million triangles (s1 to s10; s10 only when asked for) and 4,096 separate objects (m),
// each built once and given the rays of (d), (e), (f) and (c) in turn.
#include "BenchScenes.h"
#include "EmbreeBaseline.h"
#include "RrRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace rrbench;

struct Options
{
    int rays = 1000000;
    int repeat = 10;
    bool gpu = false;
    bool perRay = false;
    int builds = 3;
    std::vector<std::string> only; // workloads asked for; empty: all but s10
};

const char* const kWorkloads[] = {"a1", "a", "b", "c", "d", "e", "f", "s1", "s2", "s4", "s10", "m"};

// The whole number text spells if it lies in [1, most], else 0.
int Count(const char* text, long most)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > most)
        return 0;
    return static_cast<int>(value);
}

std::string CpuName()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

struct Row
{
    std::string workload;
    int triangles = 0;
    int rays = 0;
    double occludedShare = 0;
    double embree1 = 0, embree16 = 0, ours = 0; // Mrays/s
    double embreeBuild = 0, ourBuild = 0;       // ms
    std::string route;                          // how our library answered the rays
    long disagreements = 0;
    long referenceSidesWithRr = 0; // of the disagreements checked against brute force
    long checked = 0;
};

// Brute-force occlusion in double precision (Moeller-Trumbore, both faces, 0 < t < maxt), to
// settle the rays on which the two libraries disagree.
bool ReferenceOccluded(const TriangleMesh& mesh, const RadeonRays::ray& r)
{
    for (int t = 0; t < mesh.TriangleCount(); ++t)
    {
        double v[3][3];
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                v[c][k] = mesh.vertices[3 * mesh.indices[3 * t + c] + k];
        double e1[3], e2[3], s[3];
        for (int k = 0; k < 3; ++k)
        {
            e1[k] = v[1][k] - v[0][k];
            e2[k] = v[2][k] - v[0][k];
            s[k] = r.o[k] - v[0][k];
        }
        const double d[3] = {r.d[0], r.d[1], r.d[2]};
        const double p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2],
                             d[0] * e2[1] - d[1] * e2[0]};
        const double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
        if (det == 0.0)
            continue;
        const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2],
                             s[0] * e1[1] - s[1] * e1[0]};
        const double b1 = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) / det;
        const double b2 = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) / det;
        const double tt = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) / det;
        if (b1 >= 0 && b2 >= 0 && b1 + b2 <= 1 && tt > 0 && tt < r.maxt)
            return true;
    }
    return false;
}

// A scene built by both libraries (best of opt.builds alternating builds), ready for rays.
struct Built
{
    std::unique_ptr<EmbreeBaseline> embree;
    double embreeBuild = 1e30, ourBuild = 1e30; // ms
    double embreeBytes = 0, embreeSceneBytes = 0, ourBytes = 0;
};

Built Build(const TriangleMesh& mesh, RrRunner& rr, const Options& opt)
{
    Built b;
    for (int i = 0; i < opt.builds; ++i)
    {
        b.embree.reset();
        b.embree = std::make_unique<EmbreeBaseline>(mesh);
        b.embreeBuild = std::min(b.embreeBuild, b.embree->BuildSeconds() * 1e3);
        b.ourBuild = std::min(b.ourBuild, rr.Commit(mesh) * 1e3);
    }
    b.embreeBytes = static_cast<double>(b.embree->DeviceBytes());
    b.embreeSceneBytes = static_cast<double>(b.embree->SceneBytes());
    b.ourBytes = static_cast<double>(rr.SceneBytes());
    return b;
}

Row Measure(const std::string& label, const TriangleMesh& mesh,
            const std::vector<RadeonRays::ray>& rays, bool coherent, RrRunner& rr,
            const Options& opt, const Built& built)
{
    Row row;
    row.workload = label;
    row.triangles = mesh.TriangleCount();
    row.rays = static_cast<int>(rays.size());
    const double n = static_cast<double>(rays.size());

    const EmbreeBaseline& embree = *built.embree;
    row.embreeBuild = built.embreeBuild;
    row.ourBuild = built.ourBuild;
    std::vector<char> e1, e16;
    double best1 = 1e30, best16 = 1e30, bestOurs = 1e30;
    rr.UploadRays(rays);
    rr.Query(row.rays); // the first query pays for one-time set-up
    // Interleaved, so that a noisy neighbour on the machine hurts all three alike.
    for (int r = 0; r < opt.repeat; ++r)
    {
        best1 = std::min(best1, embree.Occluded1(rays, e1, coherent));
        best16 = std::min(best16, embree.Occluded16(rays, e16, coherent));
        bestOurs = std::min(bestOurs, rr.Query(row.rays));
    }
    row.route = rr.Routes(row.rays);
    std::vector<char> ours = rr.Occluded(row.rays);
    long occluded = 0;
    for (std::size_t i = 0; i < rays.size(); ++i)
    {
        occluded += e16[i];
        if (ours[i] != e16[i])
        {
            ++row.disagreements;
            if (row.checked < 200)
            {
                ++row.checked;
                row.referenceSidesWithRr += ReferenceOccluded(mesh, rays[i]) == (ours[i] != 0);
            }
        }
    }
    row.occludedShare = occluded / n;
    row.embree1 = n / best1 * 1e-6;
    row.embree16 = n / best16 * 1e-6;
    row.ours = n / bestOurs * 1e-6;
    std::fprintf(stderr, "  %s done\n", label.c_str());
    return row;
}

Row Measure(const std::string& label, const TriangleMesh& mesh,
            const std::vector<RadeonRays::ray>& rays, bool coherent, RrRunner& rr,
            const Options& opt)
{
    return Measure(label, mesh, rays, coherent, rr, opt, Build(mesh, rr, opt));
}

struct BuildRow
{
    std::string scene;
    int triangles = 0, objects = 0;
    double embreeBuild = 0, ourBuild = 0; // ms
    double embreeBytes = 0, embreeSceneBytes = 0, ourBytes = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i)
    {
        bool ok = true;
        if (!std::strcmp(argv[i], "--rays") && i + 1 < argc)
            ok = (opt.rays = Count(argv[++i], std::numeric_limits<int>::max() - 64)) > 0;
        else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc)
            ok = (opt.repeat = Count(argv[++i], std::numeric_limits<int>::max())) > 0;
        else if (!std::strcmp(argv[i], "--gpu"))
            opt.gpu = true;
        else if (!std::strcmp(argv[i], "--per-ray"))
            opt.perRay = true;
        else if (!std::strcmp(argv[i], "--builds") && i + 1 < argc)
            ok = (opt.builds = Count(argv[++i], 1000)) > 0;
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
        {
            opt.only.push_back(argv[++i]);
            ok = std::find_if(std::begin(kWorkloads), std::end(kWorkloads),
                              [&](const char* w)
                              { return opt.only.back() == w; }) != std::end(kWorkloads);
        }
        else
            ok = false;
        if (!ok)
        {
            std::fprintf(
                stderr,
                "usage: %s [--rays N] [--repeat R] [--builds B] [--gpu] [--per-ray] [--only "
                "a1|a|b|c|d|e|f|s1|s2|s4|s10|m]...\n",
                argv[0]);
            return 2;
        }
    }
    auto wanted = [&](const std::string& w)
    {
        return opt.only.empty() ? w != "s10"
                                : std::find(opt.only.begin(), opt.only.end(), w) != opt.only.end();
    };

    RrRunner rr(opt.gpu, opt.perRay, static_cast<std::size_t>(opt.rays) + 64);
    std::printf("Machine: %s, %u hardware threads; rr on OpenCL device \"%s\"; Embree %d.%d.%d "
                "on all threads\n",
                CpuName().c_str(), std::thread::hardware_concurrency(), rr.DeviceName().c_str(),
                RTC_VERSION_MAJOR, RTC_VERSION_MINOR, RTC_VERSION_PATCH);

    std::vector<Row> rows;
    TriangleMesh coarse = Courtyard(1), fine = Courtyard(3), crowded = CrowdedCourtyard();
    std::vector<RadeonRays::ray> shadow = ShadowRays(coarse, opt.rays);
    if (wanted("a1"))
        rows.push_back(Measure("(a) courtyard, shadow rays", coarse, shadow, true, rr, opt));
    if (wanted("a"))
        rows.push_back(Measure("(a) fine courtyard, shadow rays", fine, shadow, true, rr, opt));
    if (wanted("b"))
        rows.push_back(Measure("(b) 100k courtyard, shadow rays", crowded, shadow, true, rr, opt));
    if (wanted("c"))
        rows.push_back(Measure("(c) 100k soup, incoherent rays", Soup(100000, 3),
                               IncoherentRays(opt.rays, 4), false, rr, opt));
    // Rays drawn over each scene's own surfaces, not shaped by any tessellation.
    const float lamp[3] = {2.0f, 9.0f, -3.0f};
    for (const TriangleMesh* mesh : {&fine, &crowded})
    {
        const std::string scene = mesh == &fine ? "fine courtyard" : "100k courtyard";
        if (!wanted("d") && !wanted("e") && !wanted("f"))
            break;
        std::vector<RadeonRays::ray> drawn = SampledShadowRays(*mesh, opt.rays, 5, nullptr);
        if (wanted("d"))
            rows.push_back(Measure("(d) " + scene + ", parallel rays, drawn order", *mesh, drawn,
                                   false, rr, opt));
        if (wanted("e"))
        {
            SortByMortonCode(drawn);
            rows.push_back(
                Measure("(e) " + scene + ", parallel rays, sorted", *mesh, drawn, true, rr, opt));
        }
        if (wanted("f"))
            rows.push_back(Measure("(f) " + scene + ", point light, drawn order", *mesh,
                                   SampledShadowRays(*mesh, opt.rays, 6, lamp), false, rr, opt));
    }

    // Scale: the bumpy torus at about 1, 2, 4 and 10 million triangles, and many separate
    // objects; one build each, then every ray workload against it.
    std::vector<BuildRow> builds;
    const std::pair<const char*, int> scales[] = {
        {"s1", 708}, {"s2", 1000}, {"s4", 1414}, {"s10", 2236}, {"m", 0}};
    for (const auto& [name, side] : scales)
    {
        if (!wanted(name))
            continue;
        const TriangleMesh mesh = side > 0 ? BumpyTorus(side) : ManyObjects(4096, 12);
        char label[64];
        if (side > 0)
            std::snprintf(label, sizeof(label), "%.1fM bumpy torus", mesh.TriangleCount() * 1e-6);
        else
            std::snprintf(label, sizeof(label), "%zu objects", mesh.objectFirstTriangle.size());
        const Built built = Build(mesh, rr, opt);
        builds.push_back({label, mesh.TriangleCount(),
                          std::max<int>(1, static_cast<int>(mesh.objectFirstTriangle.size())),
                          built.embreeBuild, built.ourBuild, built.embreeBytes,
                          built.embreeSceneBytes, built.ourBytes});
        std::fprintf(stderr, "  %s built\n", label);
        std::vector<RadeonRays::ray> drawn = SampledShadowRays(mesh, opt.rays, 5, nullptr);
        const float above[3] = {1.0f, 14.0f, 2.0f};
        rows.push_back(Measure(std::string(label) + ", parallel rays, drawn order", mesh, drawn,
                               false, rr, opt, built));
        SortByMortonCode(drawn);
        rows.push_back(Measure(std::string(label) + ", parallel rays, sorted", mesh, drawn, true,
                               rr, opt, built));
        drawn = SampledShadowRays(mesh, opt.rays, 6, above);
        rows.push_back(Measure(std::string(label) + ", point light, drawn order", mesh, drawn,
                               false, rr, opt, built));
        rows.push_back(Measure(std::string(label) + ", incoherent rays", mesh,
                               IncoherentRays(opt.rays, 4), false, rr, opt, built));
    }
    if (!builds.empty())
    {
        std::printf("\nBuilds (best of %d, alternating): Embree's rtcCommitScene against our "
                    "Commit (build and upload); device bytes per triangle: ours (the committed "
                    "layouts' buffers), Embree's what rtcCommitScene added and its whole device "
                    "(with its copy of vertices and indices)\n",
                    opt.builds);
        std::printf("\n| scene | triangles | shapes | Embree build | rr Commit | Commit / Embree "
                    "build | rr bytes/triangle | Embree bytes/triangle (build; whole) |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
        for (const BuildRow& b : builds)
            std::printf("| %s | %d | %d | %.1f ms | %.1f ms | %.2fx | %.1f | %.1f; %.1f |\n",
                        b.scene.c_str(), b.triangles, b.objects, b.embreeBuild, b.ourBuild,
                        b.ourBuild / b.embreeBuild, b.ourBytes / b.triangles,
                        b.embreeSceneBytes / b.triangles, b.embreeBytes / b.triangles);
    }

    std::printf("\n| workload | triangles | rays | occluded | Embree rtcOccluded1 | Embree "
                "rtcOccluded16 | rr | rr route | rr / rtcOccluded1 | rr / Embree best | Embree "
                "build | rr Commit | Commit / Embree build | answers differing from Embree "
                "(brute force sides with rr, of those checked) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& r : rows)
        std::printf("| %s | %d | %d | %.1f%% | %.1f Mrays/s | %.1f Mrays/s | %.1f Mrays/s | %s | "
                    "%.2fx | %.2fx | %.1f ms | %.1f ms | %.2fx | %ld (%ld of %ld) |\n",
                    r.workload.c_str(), r.triangles, r.rays, 100 * r.occludedShare, r.embree1,
                    r.embree16, r.ours, r.route.c_str(), r.ours / r.embree1,
                    r.ours / std::max(r.embree1, r.embree16), r.embreeBuild, r.ourBuild,
                    r.ourBuild / r.embreeBuild, r.disagreements, r.referenceSidesWithRr, r.checked);
    return 0;
}
