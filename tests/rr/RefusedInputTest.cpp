// Every input the library refuses, and the messages that say why.
#include "OcclusionHarness.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace rrtest
{
namespace
{

const float kTriangle[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
const int kIndices[] = {0, 1, 2};

#define EXPECT_REFUSED(statement, fragment)                                                        \
    do                                                                                             \
    {                                                                                              \
        try                                                                                        \
        {                                                                                          \
            statement;                                                                             \
            ADD_FAILURE() << #statement " was accepted";                                           \
        }                                                                                          \
        catch (const std::invalid_argument& e)                                                     \
        {                                                                                          \
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();        \
        }                                                                                          \
    } while (0)

TEST(RefusedInput, CreationWithNullOrMismatchedHandles)
{
    const CLWContext cl = clw_test::MakeContext(), other = clw_test::MakeContext();
    const cl_device_id device = cl.GetDevice(0);
    const cl_command_queue queue = cl.GetCommandQueue(0);
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(nullptr, device, queue), "context");
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(cl, nullptr, queue), "device");
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(cl, device, nullptr), "queue");

    // A queue of another context: the service would fail at its first upload.
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(cl, device, other.GetCommandQueue(0)),
                   "another context");
}

TEST(RefusedInput, BufferViews)
{
    OcclusionHarness h;
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClBuffer(nullptr, h.RayMem()), "service");
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClBuffer(&h.Api(), nullptr), "memory object");

    // A memory object of another context.
    const auto foreign =
        CLWBuffer<char>::Create(clw_test::MakeContext(), CL_MEM_READ_WRITE, 64, nullptr);
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClBuffer(&h.Api(), foreign), "another context");
}

TEST(RefusedInput, MeshArguments)
{
    OcclusionHarness h;
    auto& api = h.Api();
    EXPECT_REFUSED(api.CreateMesh(kTriangle, -1, 0, kIndices, 0, nullptr, 1), "vertex count");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, kIndices, 0, nullptr, -1), "face count");
    EXPECT_REFUSED(api.CreateMesh(nullptr, 3, 0, kIndices, 0, nullptr, 1), "vertex pointer");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, nullptr, 0, nullptr, 1), "index pointer");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, -4, kIndices, 0, nullptr, 1), "vertex stride");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 8, kIndices, 0, nullptr, 1), "vertex stride");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, kIndices, -12, nullptr, 1), "index stride");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, kIndices, 8, nullptr, 1), "index stride");
    const int outside[] = {0, 1, 3};
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, outside, 0, nullptr, 1), "outside");
    const int negative[] = {0, -1, 2};
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, negative, 0, nullptr, 1), "outside");
    const int five[] = {5};
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, kIndices, 0, five, 1), "3 or 4");
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 0, 0, kIndices, 0, nullptr, 1), "without vertices");
    // More faces than a scene can hold are refused before anything is read or reserved.
    EXPECT_REFUSED(api.CreateMesh(kTriangle, 3, 0, kIndices, 0, nullptr, (1 << 30) + 1),
                   "a scene holds at most");
}

TEST(RefusedInput, ShapesOfOthersOrDeleted)
{
    OcclusionHarness h, other;
    RadeonRays::Shape* foreign = other.Api().CreateMesh(kTriangle, 3, 0, kIndices, 0, nullptr, 1);
    EXPECT_REFUSED(h.Api().AttachShape(foreign), "not made by this service");
    EXPECT_REFUSED(h.Api().AttachShape(nullptr), "null shape");
    RadeonRays::Shape* s = h.Api().CreateMesh(kTriangle, 3, 0, kIndices, 0, nullptr, 1);
    h.Api().AttachShape(s);
    h.Api().DeleteShape(s);
    EXPECT_REFUSED(h.Api().AttachShape(s), "not made by this service");
    EXPECT_REFUSED(h.Api().DetachShape(s), "not made by this service");
    EXPECT_REFUSED(h.Api().DeleteShape(s), "not made by this service");
}

TEST(RefusedInput, Queries)
{
    OcclusionHarness h(100);
    auto& api = h.Api();
    RadeonRays::Event* e = nullptr;
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), 10, h.Hits(), nullptr, &e), "no scene committed");
    api.Commit();
    EXPECT_REFUSED(api.QueryOcclusion(nullptr, 10, h.Hits(), nullptr, &e), "null ray buffer");
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), 10, nullptr, nullptr, &e), "null hit buffer");
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), -1, h.Hits(), nullptr, &e), "negative ray count");
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), 101, h.Hits(), nullptr, &e), "ray buffer holds");
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), 10, h.Rays(), nullptr, &e), "same memory object");
    // Only a service made to count routes has counts to give.
    EXPECT_REFUSED(RadeonRays::detail::TakeRouteCounts(&api), "not made to count routes");

    // A hit buffer smaller than the ray buffer.
    const auto small =
        CLWBuffer<RadeonRays::Intersection>::Create(h.Cl(), CL_MEM_READ_WRITE, 50, nullptr);
    RadeonRays::Buffer* smallHits = RadeonRays::CreateFromOpenClBuffer(&api, small);
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), 51, smallHits, nullptr, &e), "hit buffer holds");
    api.QueryOcclusion(h.Rays(), 50, smallHits, nullptr, &e);
    e->Wait();
    api.DeleteEvent(e);
    e = nullptr;

    // Buffers of another service.
    OcclusionHarness other(100);
    EXPECT_REFUSED(api.QueryOcclusion(other.Rays(), 10, h.Hits(), nullptr, &e), "not made for");
    EXPECT_REFUSED(api.QueryOcclusion(h.Rays(), 10, other.Hits(), nullptr, &e), "not made for");
    EXPECT_EQ(e, nullptr) << "a refused query must not hand out an event";
    api.DeleteBuffer(smallHits);
}

} // namespace
} // namespace rrtest
