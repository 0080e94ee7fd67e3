#pragma once
// The per-pixel reference of a frame: the frame's own lighting, with the shadow asked for
// at every pixel instead of at every vertex, so that the two pictures differ only in
// where the shadow term is evaluated.
//
// Per vertex, the drawn colour is the sky's light plus the sun's, or the sky's alone where
// the vertex's ray was blocked. So the reference draws the scene twice, once with every
// vertex lit and once with every vertex blocked, and takes per pixel the lit picture where
// that pixel's own shadow ray, from the surface point it shows, reaches the sun, and the
// blocked picture where it does not. The surface points come from a third raster pass of
// the same model into floating-point positions and normals; the rays are made, traced by
// the intersection service and turned into a mask of bytes on the device.
//
// It owns its OpenGL objects and its device memory, sized to the drawable and remade when
// that changes size. The OpenGL context must be current whenever it is used and when it
// goes; the intersection service must outlive it.
#include "app/FrameStatistics.h"
#include "app/KernelCalls.h"
#include "app/ShadowPass.h"
#include "clw/CLW.h"
#include "rr/radeon_rays.h"
#include "scene/GlObject.h"
#include "scene/Model.h"
#include "scene/VectorTypes.h"

#include <GL/glew.h>

#include <memory>
#include <vector>

class PixelReference
{
public:
    // Builds its two shader programs; the rest is made at the first frame's size.
    PixelReference(const CLWContext& context, const CLWProgram& program,
                   RadeonRays::IntersectionApi* api);
    PixelReference(const PixelReference&) = delete;
    PixelReference& operator=(const PixelReference&) = delete;

    // One reference frame of model into the current framebuffer (width x height, the
    // viewport set), drawn with the demo's program and viewProj. The scene's vertices must
    // be lit (a shadow pass without castShadows) when this is called; it leaves them all
    // blocked. The times of the pass's stages are added to times: the
    // rays of the pixels to ray generation, their query to occlusion, the blocked shading
    // and the mask to shadow write, the vertices' and pixels' copies to transfer, the
    // three model passes and the composition to raster.
    void Render(const Model& model, GLuint program, DeviceScene& scene, const Mat4& viewProj,
                const Float3& lightDirection, int width, int height, FrameSample& times);

    // Of the last frame, one byte per pixel from the lower left corner, row by row: 1
    // where a surface was drawn, 0 for the background.
    std::vector<unsigned char> SurfacePixels() const;
    // Of the last frame, as SurfacePixels: 1 where the pixel's surface point sees the
    // light (or sent no ray), 0 where its shadow ray was blocked.
    std::vector<unsigned char> VisiblePixels() const;

private:
    void Resize(int width, int height);
    // Reads the colour attachment into the mapped device buffer.
    void ReadAttachment(GLenum attachment, const CLWBuffer<cl_float4>& buffer) const;

    CLWContext m_context;
    CLWProgram m_program;
    RadeonRays::IntersectionApi* m_api = nullptr;
    GlProgram m_surfaceProgram;
    GlProgram m_composeProgram;

    int m_width = 0;
    int m_height = 0;
    // Lit and blocked pictures, positions and normals, and their depth.
    GlTexture m_lit;
    GlTexture m_blocked;
    GlTexture m_positions;
    GlTexture m_normals;
    GlTexture m_visibility;
    GlRenderbuffer m_depth;
    GlFramebuffer m_framebuffer;

    CLWBuffer<cl_float4> m_positionBuffer;
    CLWBuffer<cl_float4> m_normalBuffer;
    RayBatch m_rays;
    CLWBuffer<cl_uchar> m_visibleBuffer;
};
