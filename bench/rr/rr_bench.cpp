// Occlusion throughput of the rr library against Embree 3 on the same rays, in one process.
//
//   rr_bench [--rays N] [--repeat R] [--gpu] [--only a|a1|b|c]
//
// Workloads: (a) shadow rays from about a million points on a courtyard's surfaces, all toward
// one light, in surface order, against the courtyard itself (two levels of detail); (b) the
// same rays against the courtyard crowded to 100,000 triangles; (c) incoherent random rays
// against a 100,000-triangle soup.
#include "BenchScenes.h"
#include "EmbreeBaseline.h"
#include "RrRunner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace
{

using namespace rrbench;

struct Options
{
    int rays = 1000000;
    int repeat = 5;
    bool gpu = false;
    std::string only;
};

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
    long disagreements = 0;
};

Row Measure(const std::string& label, const TriangleMesh& mesh,
            const std::vector<RadeonRays::ray>& rays, bool coherent, RrRunner& rr,
            const Options& opt)
{
    Row row;
    row.workload = label;
    row.triangles = mesh.TriangleCount();
    row.rays = static_cast<int>(rays.size());
    const double n = static_cast<double>(rays.size());

    EmbreeBaseline embree(mesh);
    row.embreeBuild = embree.BuildSeconds() * 1e3;
    std::vector<char> e1, e16;
    double best1 = 1e30, best16 = 1e30, bestOurs = 1e30;
    row.ourBuild = rr.Commit(mesh) * 1e3;
    rr.UploadRays(rays);
    rr.Query(row.rays); // the first query pays for one-time set-up
    // Interleaved, so that a noisy neighbour on the machine hurts all three alike.
    for (int r = 0; r < opt.repeat; ++r)
    {
        best1 = std::min(best1, embree.Occluded1(rays, e1, coherent));
        best16 = std::min(best16, embree.Occluded16(rays, e16, coherent));
        bestOurs = std::min(bestOurs, rr.Query(row.rays));
    }
    std::vector<char> ours = rr.Occluded(row.rays);
    long occluded = 0;
    for (std::size_t i = 0; i < rays.size(); ++i)
    {
        occluded += e16[i];
        row.disagreements += ours[i] != e16[i];
    }
    row.occludedShare = occluded / n;
    row.embree1 = n / best1 * 1e-6;
    row.embree16 = n / best16 * 1e-6;
    row.ours = n / bestOurs * 1e-6;
    std::fprintf(stderr, "  %s done\n", label.c_str());
    return row;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i)
    {
        if (!std::strcmp(argv[i], "--rays") && i + 1 < argc)
            opt.rays = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc)
            opt.repeat = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--gpu"))
            opt.gpu = true;
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            opt.only = argv[++i];
        else
        {
            std::fprintf(stderr, "usage: %s [--rays N] [--repeat R] [--gpu] [--only a|a1|b|c]\n",
                         argv[0]);
            return 2;
        }
    }
    auto wanted = [&](const char* w) { return opt.only.empty() || opt.only == w; };

    RrRunner rr(opt.gpu, static_cast<std::size_t>(opt.rays) + 64);
    std::printf("Machine: %s, %u hardware threads; rr on OpenCL device \"%s\"; Embree %d.%d.%d "
                "on all threads\n",
                CpuName().c_str(), std::thread::hardware_concurrency(), rr.DeviceName().c_str(),
                RTC_VERSION_MAJOR, RTC_VERSION_MINOR, RTC_VERSION_PATCH);

    std::vector<Row> rows;
    TriangleMesh coarse = Courtyard(1), fine = Courtyard(3);
    std::vector<RadeonRays::ray> shadow = ShadowRays(coarse, opt.rays);
    if (wanted("a1"))
        rows.push_back(Measure("(a) courtyard, shadow rays", coarse, shadow, true, rr, opt));
    if (wanted("a"))
        rows.push_back(Measure("(a) fine courtyard, shadow rays", fine, shadow, true, rr, opt));
    if (wanted("b"))
        rows.push_back(
            Measure("(b) 100k courtyard, shadow rays", CrowdedCourtyard(), shadow, true, rr, opt));
    if (wanted("c"))
        rows.push_back(Measure("(c) 100k soup, incoherent rays", Soup(100000, 3),
                               IncoherentRays(opt.rays, 4), false, rr, opt));

    std::printf("\n| workload | triangles | rays | occluded | Embree rtcOccluded1 | Embree "
                "rtcOccluded16 | rr | rr / Embree best | Embree build | rr Commit | answers "
                "differing from Embree |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& r : rows)
        std::printf("| %s | %d | %d | %.1f%% | %.1f Mrays/s | %.1f Mrays/s | %.1f Mrays/s | "
                    "%.2fx | %.1f ms | %.1f ms | %ld |\n",
                    r.workload.c_str(), r.triangles, r.rays, 100 * r.occludedShare, r.embree1,
                    r.embree16, r.ours, r.ours / std::max(r.embree1, r.embree16), r.embreeBuild,
                    r.ourBuild, r.disagreements);
    return 0;
}
