#include "rr/scene_buffers.h"

#include "rr/cl_check.h"
#include "rr/wide_bvh.h"

#include <algorithm>
#include <cstdint>

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

template <typename Records> void SceneBuffers::Share(GrowingBuffer& buffer, Records& records)
{
    // Small arrays are not page-aligned (default_init.h), and over a misaligned host pointer
    // PoCL 3.1's kernels crashed reading the scene: they are copied, which costs little.
    if (records.empty() || reinterpret_cast<std::uintptr_t>(records.data()) % kPageBytes != 0)
        return Store(buffer, records);
    const std::size_t bytes = records.size() * sizeof(typename Records::value_type);
    buffer.Share(context_, records.data(), bytes);
    bytes_ += bytes;
}

void SceneBuffers::Upload(SceneData&& scene, SceneLayouts layouts)
{
    bytes_ = 0;
    singleRayBytes_ = scene.wideNodes.size() *
                          (layouts.wideWidth == 4 ? sizeof(WideNodeOf<4>) : sizeof(WideNode)) +
                      scene.blocks.size() * sizeof(TriangleBlock);
    if (shareHostMemory_)
    {
        // The buffers go before the arrays under them.
        for (GrowingBuffer* buffer : {&nodes_, &triangles_, &wideNodes_, &blocks_})
            buffer->Release();
        sharedFourWide_ = {};
        shared_ = std::move(scene);
        if (layouts.twoWide)
        {
            Share(nodes_, shared_.nodes);
            Share(triangles_, shared_.triangles);
        }
        if (layouts.wideWidth == 4)
        {
            sharedFourWide_ = NarrowToFourWide(shared_.wideNodes);
            shared_.wideNodes = {};
            Share(wideNodes_, sharedFourWide_);
        }
        else
            Share(wideNodes_, shared_.wideNodes);
        Share(blocks_, shared_.blocks);
        triangleCount_ = shared_.triangleCount;
        return;
    }
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
