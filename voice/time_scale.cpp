#include "voice/time_scale.h"

#include <algorithm>
#include <cstring>

namespace orvo::voice {
namespace {

constexpr int32_t kQ15One = 1 << 15;

int16_t CrossFade(int16_t from, int16_t to, int step, int length)
{
    const int64_t weightTo = static_cast<int64_t>(step + 1) * kQ15One / (length + 1);
    const int64_t value = (from * (kQ15One - weightTo) + to * weightTo) >> 15;
    return static_cast<int16_t>(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX));
}

} // namespace

int64_t MeanSquare(const int16_t *samples, int count)
{
    if (!samples || count <= 0)
        return 0;
    int64_t sum = 0;
    for (int n = 0; n < count; ++n)
        sum += static_cast<int64_t>(samples[n]) * samples[n];
    return sum / count;
}

int ShortenFrame(int16_t *x, int count, int remove)
{
    if (!x || remove < 1 || 2 * remove > count)
        return count;
    // y[n] = fade x[n] -> x[n + remove] over the first `remove` samples, then x[n + remove].
    for (int n = 0; n < remove; ++n)
        x[n] = CrossFade(x[n], x[n + remove], n, remove);
    std::memmove(x + remove, x + 2 * remove, (count - 2 * remove) * sizeof(int16_t));
    return count - remove;
}

int LengthenFrame(int16_t *x, int count, int insert)
{
    if (!x || insert < 1 || 2 * insert > count)
        return count;
    // y = x[0 .. insert), then fade x[insert + n] -> x[n] over `insert` samples, then x[insert ..).
    std::memmove(x + 2 * insert, x + insert, (count - insert) * sizeof(int16_t));
    // x[insert .. 2 insert) is free now; the original x[insert + n] sits at x[2 insert + n].
    for (int n = 0; n < insert; ++n)
        x[insert + n] = CrossFade(x[2 * insert + n], x[n], n, insert);
    // Behind the seam the repeat ends in x[insert - 1] and the original x[insert ..) follows.
    return count + insert;
}

} // namespace orvo::voice
