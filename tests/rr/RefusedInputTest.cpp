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
    ClTestContext cl;
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(nullptr, cl.device, cl.queue), "context");
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(cl.context, nullptr, cl.queue), "device");
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(cl.context, cl.device, nullptr), "queue");

    // A queue of another context: the service would fail at its first upload.
    ClTestContext other;
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClContext(cl.context, cl.device, other.queue),
                   "another context");
}

TEST(RefusedInput, BufferViews)
{
    OcclusionHarness h;
    cl_mem mem = h.Cl().CreateBuffer(64);
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClBuffer(nullptr, mem), "service");
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClBuffer(&h.Api(), nullptr), "memory object");
    clReleaseMemObject(mem);

    // A memory object of another context.
    ClTestContext other;
    cl_mem foreign = other.CreateBuffer(64);
    EXPECT_REFUSED(RadeonRays::CreateFromOpenClBuffer(&h.Api(), foreign), "another context");
    clReleaseMemObject(foreign);
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

    // A hit buffer smaller than the ray buffer.
    cl_mem small = h.Cl().CreateBuffer(50 * sizeof(RadeonRays::Intersection));
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
    clReleaseMemObject(small);
}

} // namespace
} // namespace rrtest
