// The committed scene in device memory, on the service's context.
#pragma once

#include "rr/scene_data.h"

#include <CL/cl.h>

namespace RadeonRays::detail
{

class DeviceScene
{
public:
    DeviceScene(cl_context context, cl_command_queue queue) : context_(context), queue_(queue) {}
    ~DeviceScene();
    DeviceScene(const DeviceScene&) = delete;
    DeviceScene& operator=(const DeviceScene&) = delete;

    // Copies the scene to the device (blocking); buffers grow only when the scene does.
    void Upload(const SceneData& scene);

    cl_mem Nodes() const { return nodes_; }
    cl_mem Triangles() const { return triangles_; }
    cl_mem WideNodes() const { return wideNodes_; }
    cl_mem Blocks() const { return blocks_; }
    int TriangleCount() const { return triangleCount_; }

private:
    void Store(cl_mem& buffer, std::size_t& capacity, const void* data, std::size_t bytes);

    cl_context context_;
    cl_command_queue queue_;
    cl_mem nodes_ = nullptr;
    cl_mem triangles_ = nullptr;
    cl_mem wideNodes_ = nullptr;
    cl_mem blocks_ = nullptr;
    std::size_t nodeBytes_ = 0;
    std::size_t triangleBytes_ = 0;
    std::size_t wideNodeBytes_ = 0;
    std::size_t blockBytes_ = 0;
    int triangleCount_ = 0;
};

} // namespace RadeonRays::detail
