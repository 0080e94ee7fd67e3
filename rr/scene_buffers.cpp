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
        shared_ = std::move(scene);
    }
    SceneData& arrays = shareHostMemory_ ? shared_ : scene;
    const auto put = [&](GrowingBuffer& buffer, auto& records)
    {
        if (shareHostMemory_)
            Share(buffer, records);
        else
            Store(buffer, records);
    };
    if (layouts.twoWide)
    {
        put(nodes_, arrays.nodes);
        put(triangles_, arrays.triangles);
    }
    sharedFourWide_ = {};
    if (layouts.wideWidth == 4)
    {
        UninitVector<WideNodeOf<4>> fourWide = NarrowToFourWide(arrays.wideNodes);
        arrays.wideNodes = {};
        put(wideNodes_, fourWide);
        if (shareHostMemory_)
            sharedFourWide_ = std::move(fourWide); // the same memory, kept
    }
    else
        put(wideNodes_, arrays.wideNodes);
    put(blocks_, arrays.blocks);
    triangleCount_ = arrays.triangleCount;
}

} // namespace RadeonRays::detail
