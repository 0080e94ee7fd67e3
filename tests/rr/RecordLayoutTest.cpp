// The OpenCL C copies of the ray and hit records match the C++ ones byte for byte: the
// library's header for callers' kernels, and the demo's own copies in data/kernel.cl.
#include "../clw/ClTestSupport.h"
#include "clw/CLWBuffer.h"
#include "rr/radeon_rays.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace rrtest
{
namespace
{

// A source file with OpenCL C copies of the records, and the names it gives them.
struct RecordCopy
{
    const char* path;
    const char* ray;
    const char* hit;
};

class RecordLayout : public testing::TestWithParam<RecordCopy>
{
};

INSTANTIATE_TEST_SUITE_P(Copies, RecordLayout,
                         testing::Values(RecordCopy{RR_RECORDS_HEADER, "rr_ray", "rr_intersection"},
                                         RecordCopy{VS_DATA_DIR "/kernel.cl", "Ray",
                                                    "Intersection"}),
                         [](const testing::TestParamInfo<RecordCopy>& info)
                         { return std::string(info.index == 0 ? "Library" : "DemoKernels"); });

TEST_P(RecordLayout, OpenClRecordsMatchTheCppRecords)
{
    std::ifstream file(GetParam().path);
    ASSERT_TRUE(file) << GetParam().path;
    std::stringstream text;
    text << file.rdbuf();
    const std::string source = text.str() + "\n#define RECORD_RAY " + GetParam().ray +
                               "\n#define RECORD_HIT " + GetParam().hit + R"(
#define OFFSET(record, field) ((int)((__global char*)&record->field - (__global char*)record))
__kernel void record_layout(__global int* out, __global RECORD_RAY* r, __global RECORD_HIT* h)
{
    out[0] = sizeof(RECORD_RAY);
    out[1] = OFFSET(r, o);
    out[2] = OFFSET(r, maxt);
    out[3] = OFFSET(r, d);
    out[4] = OFFSET(r, time);
    out[5] = OFFSET(r, mask);
    out[6] = OFFSET(r, active);
    out[7] = OFFSET(r, padding);
    out[8] = sizeof(RECORD_HIT);
    out[9] = OFFSET(h, shapeid);
    out[10] = OFFSET(h, primid);
    out[11] = OFFSET(h, padding);
    out[12] = OFFSET(h, u);
    out[13] = OFFSET(h, v);
    out[14] = OFFSET(h, w);
    out[15] = OFFSET(h, t);
}
)";
    const CLWContext cl = clw_test::MakeContext();
    CLWKernel kernel =
        CLWProgram::CreateFromSource(source.data(), source.size(), "-cl-std=CL1.2", cl)
            .GetKernel("record_layout");
    const auto out = CLWBuffer<cl_int>::Create(cl, CL_MEM_READ_WRITE, 16, nullptr);
    const auto records = CLWBuffer<char>::Create(cl, CL_MEM_READ_WRITE, 64, nullptr);
    const cl_mem args[3] = {out, records, records};
    for (cl_uint i = 0; i < 3; ++i)
        kernel.SetArg(i, sizeof(cl_mem), &args[i]);
    const std::size_t one[2] = {1, 1};
    cl.Launch2D(0, one, one, kernel);
    const std::vector<cl_int> got = clw_test::ReadInts(cl, out, 16);
    using RadeonRays::Intersection;
    using RadeonRays::ray;
    const int want[16] = {sizeof(ray),
                          offsetof(ray, o),
                          offsetof(ray, maxt),
                          offsetof(ray, d),
                          offsetof(ray, time),
                          offsetof(ray, mask),
                          offsetof(ray, active),
                          offsetof(ray, padding),
                          sizeof(Intersection),
                          offsetof(Intersection, shapeid),
                          offsetof(Intersection, primid),
                          offsetof(Intersection, padding),
                          offsetof(Intersection, u),
                          offsetof(Intersection, v),
                          offsetof(Intersection, w),
                          offsetof(Intersection, t)};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(got[i], want[i]) << "field " << i;
}

} // namespace
} // namespace rrtest
