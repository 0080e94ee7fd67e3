// Sorting the deferred rays by their 24-bit keys: a stable counting sort by the low and then
// the high 12 bits (least significant digit first). RR_SORT_BLOCKS work-items each take one
// slice of the keys; the count of keys is read on the device, so the host never waits for it.

// RR_SORT_BITS and RR_SORT_BLOCKS come from the host (kSortBits, kSortBlocks).
#define RR_SORT_BUCKETS (1 << RR_SORT_BITS)

// The slice [*begin, *end) of count keys that work-item b of RR_SORT_BLOCKS takes.
inline void rr_sort_slice(int count, int b, int* begin, int* end)
{
    *begin = (int)((long)count * b / RR_SORT_BLOCKS);
    *end = (int)((long)count * (b + 1) / RR_SORT_BLOCKS);
}

// histogram[bucket * RR_SORT_BLOCKS + b]: how many keys of slice b fall into each bucket.
__kernel __attribute__((reqd_work_group_size(1, 1, 1))) void
rr_sort_count(__global const uint* keys, __global const int* count, int shift,
              __global int* histogram)
{
    const int b = (int)get_global_id(0);
    if (*count == 0)
        return; // nothing deferred: the common case for coherent rays costs next to nothing
    int tally[RR_SORT_BUCKETS];
    for (int k = 0; k < RR_SORT_BUCKETS; ++k)
        tally[k] = 0;
    int begin, end;
    rr_sort_slice(*count, b, &begin, &end);
    for (int i = begin; i < end; ++i)
        ++tally[(keys[i] >> shift) & (RR_SORT_BUCKETS - 1)];
    for (int k = 0; k < RR_SORT_BUCKETS; ++k)
        histogram[k * RR_SORT_BLOCKS + b] = tally[k];
}

// Moves each key of slice b, with its deferred ray, to its sorted position.
__kernel __attribute__((reqd_work_group_size(1, 1, 1))) void
rr_sort_scatter(__global const uint* keys, __global const float8* items,
                __global const int* count, int shift, __global const int* histogram,
                __global uint* sortedKeys, __global float8* sortedItems)
{
    const int b = (int)get_global_id(0);
    if (*count == 0)
        return;
    // Where this slice's keys of each bucket go: after every key of the buckets before and
    // the keys of the slices before in the same bucket (each work-item scans the histogram
    // itself, which spares a command on the queue).
    int next[RR_SORT_BUCKETS];
    int sum = 0;
    for (int k = 0; k < RR_SORT_BUCKETS; ++k)
    {
        for (int c = 0; c < RR_SORT_BLOCKS; ++c)
        {
            const int n = histogram[k * RR_SORT_BLOCKS + c];
            if (c == b)
                next[k] = sum;
            sum += n;
        }
    }
    int begin, end;
    rr_sort_slice(*count, b, &begin, &end);
    for (int i = begin; i < end; ++i)
    {
        const uint key = keys[i];
        const int at = next[(key >> shift) & (RR_SORT_BUCKETS - 1)]++;
        sortedKeys[at] = key;
        sortedItems[at] = items[i];
    }
}
