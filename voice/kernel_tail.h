// Runs a vector kernel over the whole blocks of an array and the scalar kernel over the rest,
// so no vector kernel needs its own tail loop.
#pragma once

namespace orvo::voice {

template <int Block, typename In, typename Out>
inline void RunBlocks(void (*vector_kernel)(const In *, Out *, int),
                      void (*scalar_kernel)(const In *, Out *, int), const In *in, Out *out, int n)
{
    const int whole = n - n % Block;
    if (whole > 0)
        vector_kernel(in, out, whole);
    if (whole < n)
        scalar_kernel(in + whole, out + whole, n - whole);
}

} // namespace orvo::voice
