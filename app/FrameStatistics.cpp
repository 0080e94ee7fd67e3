#include "app/FrameStatistics.h"

#include <algorithm>
#include <cstdio>

namespace
{

double Median(std::vector<double> values)
{
    if (values.empty())
    {
        return 0.0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

std::string Line(const char* stage, double seconds, double rays)
{
    char text[96];
    if (rays > 0.0 && seconds > 0.0)
    {
        std::snprintf(text, sizeof text, "  %-15s %9.2f ms %9.1f Mrays/s", stage, seconds * 1e3,
                      rays / seconds / 1e6);
    }
    else
    {
        std::snprintf(text, sizeof text, "  %-15s %9.2f ms", stage, seconds * 1e3);
    }
    return text;
}

} // namespace

FrameSample FrameStatistics::Medians() const
{
    auto stage = [this](double FrameSample::*member)
    {
        std::vector<double> values;
        values.reserve(m_samples.size());
        for (const FrameSample& sample : m_samples)
        {
            values.push_back(sample.*member);
        }
        return Median(std::move(values));
    };
    FrameSample medians;
    medians.rayGeneration = stage(&FrameSample::rayGeneration);
    medians.occlusion = stage(&FrameSample::occlusion);
    medians.shadowWrite = stage(&FrameSample::shadowWrite);
    medians.transfer = stage(&FrameSample::transfer);
    medians.raster = stage(&FrameSample::raster);
    medians.frame = stage(&FrameSample::frame);
    return medians;
}

std::vector<std::string> DescribeStages(const FrameSample& medians, double raysPerFrame)
{
    return {Line("ray generation", medians.rayGeneration, raysPerFrame),
            Line("occlusion", medians.occlusion, raysPerFrame),
            Line("shadow write", medians.shadowWrite, 0.0),
            Line("transfer", medians.transfer, 0.0),
            Line("raster", medians.raster, 0.0),
            Line("whole frame", medians.frame, raysPerFrame)};
}
