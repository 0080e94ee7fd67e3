// import_bench FILE... : the cost of importing in the contained child against importing in
// this process, side by side: for each file, repetitions alternate the two ways, and the
// report gives the median of each and their ratio.
#include "import/ContainedImport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{

double Seconds(ImportedScene (*import)(const std::string&), const std::string& path,
               size_t& triangles)
{
    const auto start = std::chrono::steady_clock::now();
    const ImportedScene scene = import(path);
    const auto end = std::chrono::steady_clock::now();
    triangles = scene.positions.size() / 3;
    return std::chrono::duration<double>(end - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    constexpr int kRepetitions = 5;
    std::printf("%-40s %10s %12s %12s %7s\n", "file", "triangles", "in-process", "contained",
                "ratio");
    for (int f = 1; f < argc; ++f)
    {
        std::vector<double> inProcess, contained;
        size_t triangles = 0;
        for (int r = 0; r < kRepetitions; ++r)
        {
            inProcess.push_back(Seconds(ImportScene, argv[f], triangles));
            contained.push_back(Seconds([](const std::string& path)
                                        { return ImportSceneContained(path); },
                                        argv[f], triangles));
        }
        const double a = Median(inProcess), b = Median(contained);
        std::printf("%-40s %10zu %10.3f s %10.3f s %7.3f\n", argv[f], triangles, a, b, b / a);
    }
    return 0;
}
