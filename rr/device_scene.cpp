#include "rr/device_scene.h"

#include "rr/cl_check.h"

namespace RadeonRays::detail
{

DeviceScene::~DeviceScene()
{
    if (nodes_)
        clReleaseMemObject(nodes_);
    for (cl_mem m : {triangles_, wideNodes_, blocks_})
        if (m)
            clReleaseMemObject(m);
}

void DeviceScene::Upload(const SceneData& scene)
{
    // An empty scene keeps one-element buffers, so that kernel arguments are always valid.
    const DeviceNode noNode{};
    const DeviceTriangle noTriangle{};
    const bool empty = scene.triangles.empty();
    Store(nodes_, nodeBytes_, empty ? &noNode : scene.nodes.data(),
          empty ? sizeof(DeviceNode) : scene.nodes.size() * sizeof(DeviceNode));
    Store(triangles_, triangleBytes_, empty ? &noTriangle : scene.triangles.data(),
          empty ? sizeof(DeviceTriangle) : scene.triangles.size() * sizeof(DeviceTriangle));
    const WideNode noWideNode{};
    const TriangleBlock noBlock{};
    Store(wideNodes_, wideNodeBytes_, empty ? &noWideNode : scene.wideNodes.data(),
          empty ? sizeof(WideNode) : scene.wideNodes.size() * sizeof(WideNode));
    Store(blocks_, blockBytes_, empty ? &noBlock : scene.blocks.data(),
          empty ? sizeof(TriangleBlock) : scene.blocks.size() * sizeof(TriangleBlock));
    triangleCount_ = static_cast<int>(scene.triangles.size());
}

void DeviceScene::Store(cl_mem& buffer, std::size_t& capacity, const void* data, std::size_t bytes)
{
    if (bytes > capacity)
    {
        if (buffer)
            clReleaseMemObject(buffer);
        buffer = nullptr;
        capacity = 0;
        cl_int status = CL_SUCCESS;
        buffer = clCreateBuffer(context_, CL_MEM_READ_ONLY, bytes, nullptr, &status);
        CheckCl(status, "clCreateBuffer");
        capacity = bytes;
    }
    CheckCl(clEnqueueWriteBuffer(queue_, buffer, CL_TRUE, 0, bytes, data, 0, nullptr, nullptr),
            "clEnqueueWriteBuffer");
}

} // namespace RadeonRays::detail
