#include "rr/scene_buffers.h"

#include "rr/cl_check.h"
#include "rr/wide_bvh.h"

#include <algorithm>

namespace RadeonRays::detail
{

template <typename Records> void SceneBuffers::Store(GrowingBuffer& buffer, const Records& records)
{
    using Record = typename Records::value_type;
    const Record none{};
    const void* data = records.empty() ? &none : records.data();
    const std::size_t bytes = std::max<std::size_t>(1, records.size()) * sizeof(Record);
    buffer.Reserve(context_, bytes);
    bytes_ += bytes;
    CheckCl(
        clEnqueueWriteBuffer(queue_, buffer.Get(), CL_TRUE, 0, bytes, data, 0, nullptr, nullptr),
        "clEnqueueWriteBuffer");
}

void SceneBuffers::Upload(const SceneData& scene, SceneLayouts layouts)
{
    bytes_ = 0;
    if (layouts.twoWide)
    {
        Store(nodes_, scene.nodes);
        Store(triangles_, scene.triangles);
    }
    if (layouts.wideWidth == 4)
        Store(wideNodes_, NarrowToFourWide(scene.wideNodes));
    else
        Store(wideNodes_, scene.wideNodes);
    Store(blocks_, scene.blocks);
    triangleCount_ = scene.triangleCount;
}

} // namespace RadeonRays::detail
