// The ray and hit records of the intersection library as OpenCL C types, for kernels that
// write rays and read hits. Byte for byte the same as RadeonRays::ray and
// RadeonRays::Intersection in rr/radeon_rays.h.
#ifndef RADEON_RAYS_RECORDS_H
#define RADEON_RAYS_RECORDS_H

#ifndef __OPENCL_VERSION__
#error "rr/radeon_rays_records.h is OpenCL C; C++ code includes rr/radeon_rays.h"
#endif

// 48 bytes. The ray covers origin + t * direction for 0 < t < maxt.
typedef struct
{
    float o[3]; // origin
    float maxt; // end of the ray, exclusive
    float d[3]; // direction, any length
    float time; // unused
    int mask;   // unused by occlusion queries
    int active; // 0: skipped, reported as not occluded
    int padding[2];
} rr_ray;

// 32 bytes. Occlusion queries write the whole record: shapeid, an occluding shape's id or -1;
// primid -1; the rest 0.
typedef struct
{
    int shapeid;
    int primid;
    int padding[2];
    float u, v, w, t;
} rr_intersection;

#endif
