// The committed scene's layouts in device buffers of the service's context: copies in buffers
// of the device's own, or, on a device that reads host memory in place (a CPU device), the
// scene's own arrays, kept here, under buffers made over them. Those arrays come from Commit's
// huge-page allocations (default_init.h): sharing them spares the upload's copy into freshly
// touched memory, and a walk through a tree of hundreds of megabytes misses the TLB far less
// often in huge pages than in the device's ordinary ones.
#pragma once

#include "rr/growing_buffer.h"
#include "rr/scene_data.h"

#include <CL/cl.h>

namespace RadeonRays::detail
{

class SceneBuffers
{
public:
    SceneBuffers(cl_context context, cl_command_queue queue, bool shareHostMemory)
        : context_(context), queue_(queue), shareHostMemory_(shareHostMemory)
    {
    }
    SceneBuffers(const SceneBuffers&) = delete;
    SceneBuffers& operator=(const SceneBuffers&) = delete;

    // Puts the scene's layouts named in layouts in device buffers (blocking): copies, in
    // buffers that grow only when the scene does, or the scene's arrays themselves when host
    // memory is shared. Without the two-wide layout, its buffers are not touched (copies) or
    // released (shared). Queries reading the buffers must have completed.
    void Upload(SceneData&& scene, SceneLayouts layouts);

    cl_mem Nodes() const { return nodes_.Get(); }
    cl_mem Triangles() const { return triangles_.Get(); }
    cl_mem WideNodes() const { return wideNodes_.Get(); }
    cl_mem Blocks() const { return blocks_.Get(); }
    int TriangleCount() const { return triangleCount_; }
    // The bytes of the committed scene's layouts (the buffers may hold more, from a bigger
    // scene before).
    std::size_t Bytes() const { return bytes_; }
    // Of those, the single rays' layout (the wide nodes and the blocks).
    std::size_t SingleRayBytes() const { return singleRayBytes_; }

private:
    // Copies the records, or one zeroed record when there are none, so that kernel arguments
    // are always valid.
    template <typename Records> void Store(GrowingBuffer& buffer, const Records& records);
    // Makes the buffer over the records, which must stay as they are while it lives; no
    // records get a copy of one zeroed record, as in Store.
    template <typename Records> void Share(GrowingBuffer& buffer, Records& records);

    cl_context context_;
    cl_command_queue queue_;
    bool shareHostMemory_;
    // The arrays the shared buffers are made over, declared before the buffers so that they
    // outlive them.
    SceneData shared_;
    UninitVector<WideNodeOf<4>> sharedFourWide_;
    GrowingBuffer nodes_{CL_MEM_READ_ONLY}, triangles_{CL_MEM_READ_ONLY},
        wideNodes_{CL_MEM_READ_ONLY}, blocks_{CL_MEM_READ_ONLY};
    int triangleCount_ = 0;
    std::size_t bytes_ = 0;
    std::size_t singleRayBytes_ = 0;
};

} // namespace RadeonRays::detail
