// Time-scaling of one decoded frame by whole pitch periods (or, in a quiet frame, by any number of
// samples): a frame is shortened by cross-fading its start into the signal one period later, or
// lengthened by repeating its first period with a cross-fade at the seam. The first and the last
// sample of the frame stay what they were, so the frames on either side join as before. On a
// periodic or quiet signal the change is inaudible; it is how playout follows a sender whose clock
// runs faster or slower than the sound card's and how its delay is brought down or up.
#pragma once

#include <cstdint>

namespace orvo::voice {

// A frame whose mean square lies below this (about -44 dBFS) counts as quiet.
constexpr int64_t kQuietFrameMeanSquare = 200 * 200;
// Correlation (Q15) from which a frame counts as periodic enough to lose or gain a period.
constexpr int32_t kPeriodicScoreQ15 = 0.75 * 32768;

// Mean square of `count` samples (0 for none).
int64_t MeanSquare(const int16_t *samples, int count);

// Removes `remove` samples from x[0..count): the first `remove`-long stretch fades into the
// stretch that follows it. Needs 1 <= remove and 2 * remove <= count (otherwise nothing happens).
// Returns the new sample count.
int ShortenFrame(int16_t *x, int count, int remove);

// Inserts `insert` samples into x[0..count) (room for count + insert): the first `insert` samples
// are played twice, the repeat cross-faded into the original continuation. Needs 1 <= insert and
// 2 * insert <= count. Returns the new sample count.
int LengthenFrame(int16_t *x, int count, int insert);

} // namespace orvo::voice
