// How closely a received recording matches the sent one after the mu-law round trip and the
// playback stretch.
#ifndef ORVO_TALK_TOOL_COMPARE_H
#define ORVO_TALK_TOOL_COMPARE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo::talktool {

struct MatchResult {
    size_t sentFrames = 0;          // 20 ms frames of the sent audio (after merging repeats)
    size_t receivedFrames = 0;      // whole frames in the received audio
    size_t mergedRepeats = 0;       // received frames equal to the one before (the stretch)
    long lagFrames = 0;             // received frame index of sent frame 0 at the best alignment
    double correlation = 0.0;       // normalised cross-correlation at that alignment
    size_t exactFrames = 0;         // sent frames (with sound) found bit-exact at that alignment
    size_t soundFrames = 0;         // sent frames with sound
};

// Encodes `sent` as G.711 mu-law and decodes it again (what the receiver can at best play), cuts
// both recordings into 160-sample frames, merges runs of equal frames in each (the receiver plays a
// frame twice now and then; silence merges the same way on both sides), then finds the frame lag
// with the highest normalised cross-correlation sum(s*r) / sqrt(sum over all sent s^2 * sum r^2).
MatchResult MatchReceived(const std::vector<int16_t> &sent, const std::vector<int16_t> &received);

} // namespace orvo::talktool

#endif
