// The committed scene's layouts in device buffers of the service's context.
#pragma once

#include "rr/growing_buffer.h"
#include "rr/scene_data.h"

#include <CL/cl.h>

namespace RadeonRays::detail
{

class SceneBuffers
{
public:
    SceneBuffers(cl_context context, cl_command_queue queue) : context_(context), queue_(queue) {}
    SceneBuffers(const SceneBuffers&) = delete;
    SceneBuffers& operator=(const SceneBuffers&) = delete;

    // Copies the scene's layouts named in layouts to the device (blocking); buffers grow only
    // when the scene does. Without the two-wide layout, its buffers are not touched.
    void Upload(const SceneData& scene, SceneLayouts layouts);

    cl_mem Nodes() const { return nodes_.Get(); }
    cl_mem Triangles() const { return triangles_.Get(); }
    cl_mem WideNodes() const { return wideNodes_.Get(); }
    cl_mem Blocks() const { return blocks_.Get(); }
    int TriangleCount() const { return triangleCount_; }
    // The bytes of the committed scene's layouts (the buffers may hold more, from a bigger
    // scene before).
    std::size_t Bytes() const { return bytes_; }

private:
    // Copies the records, or one zeroed record when there are none, so that kernel arguments
    // are always valid.
    template <typename Records> void Store(GrowingBuffer& buffer, const Records& records);

    cl_context context_;
    cl_command_queue queue_;
    GrowingBuffer nodes_{CL_MEM_READ_ONLY}, triangles_{CL_MEM_READ_ONLY},
        wideNodes_{CL_MEM_READ_ONLY}, blocks_{CL_MEM_READ_ONLY};
    int triangleCount_ = 0;
    std::size_t bytes_ = 0;
};

} // namespace RadeonRays::detail
