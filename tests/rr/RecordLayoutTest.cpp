// The OpenCL C records of rr/radeon_rays_records.h match the C++ ones byte for byte.
#include "ClTestContext.h"
#include "rr/radeon_rays.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace rrtest
{
namespace
{

TEST(RecordLayout, OpenClRecordsMatchTheCppRecords)
{
    ClTestContext cl;
    ASSERT_NE(cl.context, nullptr);
    std::ifstream file(RR_RECORDS_HEADER);
    ASSERT_TRUE(file) << RR_RECORDS_HEADER;
    std::stringstream text;
    text << file.rdbuf();
    const std::string source = text.str() + R"(
#define OFFSET(record, field) ((int)((__global char*)&record->field - (__global char*)record))
__kernel void layout(__global int* out, __global rr_ray* r, __global rr_intersection* h)
{
    out[0] = sizeof(rr_ray);
    out[1] = OFFSET(r, o);
    out[2] = OFFSET(r, maxt);
    out[3] = OFFSET(r, d);
    out[4] = OFFSET(r, time);
    out[5] = OFFSET(r, mask);
    out[6] = OFFSET(r, active);
    out[7] = OFFSET(r, padding);
    out[8] = sizeof(rr_intersection);
    out[9] = OFFSET(h, shapeid);
    out[10] = OFFSET(h, primid);
    out[11] = OFFSET(h, padding);
    out[12] = OFFSET(h, u);
    out[13] = OFFSET(h, v);
    out[14] = OFFSET(h, w);
    out[15] = OFFSET(h, t);
}
)";
    const char* src = source.c_str();
    cl_int status = CL_SUCCESS;
    cl_program program = clCreateProgramWithSource(cl.context, 1, &src, nullptr, &status);
    ASSERT_EQ(status, CL_SUCCESS);
    ASSERT_EQ(clBuildProgram(program, 1, &cl.device, "-cl-std=CL1.2", nullptr, nullptr),
              CL_SUCCESS);
    cl_kernel kernel = clCreateKernel(program, "layout", &status);
    ASSERT_EQ(status, CL_SUCCESS);
    cl_mem out = cl.CreateBuffer(16 * sizeof(int));
    ASSERT_EQ(clSetKernelArg(kernel, 0, sizeof(cl_mem), &out), CL_SUCCESS);
    cl_mem records = cl.CreateBuffer(64);
    ASSERT_EQ(clSetKernelArg(kernel, 1, sizeof(cl_mem), &records), CL_SUCCESS);
    ASSERT_EQ(clSetKernelArg(kernel, 2, sizeof(cl_mem), &records), CL_SUCCESS);
    const std::size_t one = 1;
    ASSERT_EQ(clEnqueueNDRangeKernel(cl.queue, kernel, 1, nullptr, &one, &one, 0, nullptr, nullptr),
              CL_SUCCESS);
    int got[16] = {};
    ASSERT_EQ(clEnqueueReadBuffer(cl.queue, out, CL_TRUE, 0, sizeof(got), got, 0, nullptr, nullptr),
              CL_SUCCESS);
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
    clReleaseMemObject(out);
    clReleaseMemObject(records);
    clReleaseKernel(kernel);
    clReleaseProgram(program);
}

} // namespace
} // namespace rrtest
