// Occlusion query entry points.

// One ray per work-item; the choice for GPUs, whose hardware runs work-items in lockstep.
__kernel void rr_occlusion_per_ray(__global const rr_ray* rays, int numrays,
                                   __global rr_intersection* hits, int triangleCount,
                                   __global const rr_wide_node* wideNodes,
                                   __global const rr_block* blocks)
{
    const int i = (int)get_global_id(0);
    if (i >= numrays)
        return;
    rr_store_hit(hits, i, rr_answer_ray(&rays[i], wideNodes, blocks, triangleCount));
}
