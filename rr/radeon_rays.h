// Occlusion queries against triangle meshes, answered by OpenCL kernels on the caller's own
// context and queue.
//
// Typical use:
//   IntersectionApi* api = CreateFromOpenClContext(context, device, queue);
//   Buffer* rays = CreateFromOpenClBuffer(api, rayMem);   // N ray records
//   Buffer* hits = CreateFromOpenClBuffer(api, hitMem);   // N Intersection records
//   Shape* mesh = api->CreateMesh(positions, vnum, 12, indices, 0, nullptr, nfaces);
//   api->AttachShape(mesh);
//   mesh->SetId(1);
//   api->Commit();
//   Event* done = nullptr;
//   api->QueryOcclusion(rays, N, hits, nullptr, &done);
//   done->Wait();
//   api->DeleteEvent(done);
//
// Bad arguments throw std::invalid_argument; failing OpenCL calls throw std::runtime_error
// naming the call and its status. The kernels' view of the two records is in
// rr/radeon_rays_records.h (OpenCL C).
#pragma once

#include <CL/cl.h>
#include <cstddef>

namespace RadeonRays
{

// One ray, 48 bytes. The ray covers the points origin + t * direction with 0 < t < maxt, t in
// lengths of the direction vector (which need not be unit length).
struct ray
{
    float o[3]; // origin
    float maxt; // end of the ray, exclusive
    float d[3]; // direction
    float time; // unused
    int mask;   // unused by occlusion queries
    int active; // 0: the ray is skipped and reported as not occluded
    int padding[2];
};
static_assert(sizeof(ray) == 48, "ray records are 48 bytes");
static_assert(offsetof(ray, o) == 0 && offsetof(ray, maxt) == 12 && offsetof(ray, d) == 16 &&
                  offsetof(ray, time) == 28 && offsetof(ray, mask) == 32 &&
                  offsetof(ray, active) == 36 && offsetof(ray, padding) == 40,
              "ray record layout is shared with OpenCL kernels");

// One hit record, 32 bytes. An occlusion query writes the whole record: shapeid, the id of a
// shape that occludes the ray or -1; primid -1; the rest 0.
struct Intersection
{
    int shapeid;
    int primid;
    int padding[2];
    float u, v, w, t;
};
static_assert(sizeof(Intersection) == 32, "Intersection records are 32 bytes");
static_assert(offsetof(Intersection, shapeid) == 0 && offsetof(Intersection, primid) == 4 &&
                  offsetof(Intersection, padding) == 8 && offsetof(Intersection, u) == 16 &&
                  offsetof(Intersection, v) == 20 && offsetof(Intersection, w) == 24 &&
                  offsetof(Intersection, t) == 28,
              "Intersection record layout is shared with OpenCL kernels");

// A triangle mesh known to one IntersectionApi. Its id is what queries report; ids, meshes and
// attachments take effect at the next Commit.
class Shape
{
public:
    virtual ~Shape() = default;
    virtual void SetId(int id) = 0;
    virtual int GetId() const = 0;
};

// A view of one of the caller's OpenCL memory objects (retained while the view exists).
class Buffer
{
public:
    virtual ~Buffer() = default;
};

// Completion of an enqueued query.
class Event
{
public:
    virtual ~Event() = default;
    // Blocks until the query's results are in the hit buffer.
    virtual void Wait() = 0;
    virtual bool Complete() const = 0;
};

// The service. Its calls are made from one thread at a time; queries and uploads go to the
// command queue it was created with, in the order of the calls.
class IntersectionApi
{
public:
    virtual ~IntersectionApi() = default;
    // Releases the service with every shape it made; buffers and events must be deleted first.
    static void Delete(IntersectionApi* api);

    // Copies a mesh. vertices: vnum positions of three floats, vstride bytes apart (0: 12).
    // indices: one index per face vertex; faces are istride bytes apart (0: packed).
    // numfacevertices: per face 3 (triangle) or 4 (quad, split into two triangles), or null for
    // all triangles. The returned shape belongs to this service.
    virtual Shape* CreateMesh(const float* vertices, int vnum, int vstride, const int* indices,
                              int istride, const int* numfacevertices, int numfaces) = 0;
    virtual void DeleteShape(const Shape* shape) = 0;
    virtual void AttachShape(const Shape* shape) = 0;
    virtual void DetachShape(const Shape* shape) = 0;
    // Builds the acceleration structure over the attached shapes and uploads it.
    virtual void Commit() = 0;

    // For each ray i < numrays, writes hits[i] whole, its shapeid the id of a shape that occludes
    // the ray, or -1 when the ray is inactive or unoccluded. Enqueued on the service's queue
    // after waitevent (may be null); *event (when event is not null) receives the completion, to
    // be deleted with DeleteEvent.
    virtual void QueryOcclusion(const Buffer* rays, int numrays, Buffer* hits,
                                const Event* waitevent, Event** event) const = 0;
    virtual void DeleteEvent(Event* event) const = 0;
    virtual void DeleteBuffer(Buffer* buffer) const = 0;
};

// The service on the caller's context, device and queue, the queue one of that context and
// device (the context and queue retained while it lives; the device is used only here). Builds
// its kernels here.
IntersectionApi* CreateFromOpenClContext(cl_context context, cl_device_id device,
                                         cl_command_queue queue);
// A view of a memory object of the service's context, for use as rays or hits.
Buffer* CreateFromOpenClBuffer(IntersectionApi* api, cl_mem buffer);

} // namespace RadeonRays
