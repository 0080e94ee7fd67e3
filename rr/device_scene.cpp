#include "rr/device_scene.h"

#include "rr/cl_check.h"
#include "rr/wide_bvh.h"

#include <algorithm>

namespace RadeonRays::detail
{

DeviceScene::~DeviceScene()
{
    for (const GrowingBuffer* b : {&nodes_, &triangles_, &wideNodes_, &blocks_})
        if (b->mem)
            clReleaseMemObject(b->mem);
}

template <typename Record>
void DeviceScene::Store(GrowingBuffer& buffer, const std::vector<Record>& records)
{
    const Record none{};
    const void* data = records.empty() ? &none : records.data();
    const std::size_t bytes = std::max<std::size_t>(1, records.size()) * sizeof(Record);
    if (bytes > buffer.capacity)
    {
        if (buffer.mem)
            clReleaseMemObject(buffer.mem);
        buffer = GrowingBuffer{};
        cl_int status = CL_SUCCESS;
        buffer.mem = clCreateBuffer(context_, CL_MEM_READ_ONLY, bytes, nullptr, &status);
        CheckCl(status, "clCreateBuffer");
        buffer.capacity = bytes;
    }
    CheckCl(clEnqueueWriteBuffer(queue_, buffer.mem, CL_TRUE, 0, bytes, data, 0, nullptr, nullptr),
            "clEnqueueWriteBuffer");
}

void DeviceScene::Upload(const SceneData& scene, SceneLayouts layouts)
{
    if (layouts.twoWide)
    {
        Store(nodes_, scene.nodes);
        Store(triangles_, scene.triangles);
    }
    if (layouts.wide)
    {
        if (layouts.wideWidth == 4)
            Store(wideNodes_, NarrowToFourWide(scene.wideNodes));
        else
            Store(wideNodes_, scene.wideNodes);
        Store(blocks_, scene.blocks);
    }
    triangleCount_ = scene.triangleCount;
}

} // namespace RadeonRays::detail
