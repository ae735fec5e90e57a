// Frame layout shared by the codec families: the 4-byte header and the call's staging buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orvoaudio/voice.h"

namespace orvo::voice {

constexpr int kMaxSamples = HI_VOICE_MAX_SAMPLES;
constexpr std::size_t kHeaderBytes = 4;
// Every frame call stages its work in 482 16-bit words: the header (2 words) plus the largest
// payload (240 words for G.711), or one kind word plus one slot per code for 481 samples.
constexpr std::size_t kStagingWords = 482;
constexpr std::size_t kStagingBytes = kStagingWords * 2;
constexpr uint16_t kKindVoice = 1;
constexpr uint16_t kKindMask = 0x0300;        // frame kind: bits 8 and 9 of the marker
constexpr uint16_t kMarkerVoice = kKindVoice << 8;

// Byte offsets of the header fields inside a frame.
constexpr std::size_t kMarkerOffset = 0;
constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kReservedOffset = 3;

// The staging frame of one call; aligned so vector kernels may store into it freely.
struct alignas(64) StagingFrame {
    uint8_t bytes[kStagingBytes];
    uint8_t *payload() { return bytes + kHeaderBytes; }
};

// Writes the header of a voice frame of `length` payload words (marker 0x0100, little-endian).
inline void WriteVoiceHeader(uint8_t *frame, unsigned length)
{
    frame[kMarkerOffset] = kMarkerVoice & 0xFF;
    frame[kMarkerOffset + 1] = kMarkerVoice >> 8;
    frame[kLengthOffset] = static_cast<uint8_t>(length);
    frame[kReservedOffset] = 0;
}

inline uint16_t ReadMarker(const uint8_t *frame)
{
    return static_cast<uint16_t>(frame[kMarkerOffset] | (frame[kMarkerOffset + 1] << 8));
}

// True when the byte ranges [a, a + a_bytes) and [b, b + b_bytes) share a byte.
inline bool Overlaps(const void *a, std::size_t a_bytes, const void *b, std::size_t b_bytes)
{
    const auto pa = reinterpret_cast<std::uintptr_t>(a);
    const auto pb = reinterpret_cast<std::uintptr_t>(b);
    return pa < pb + b_bytes && pb < pa + a_bytes;
}

} // namespace orvo::voice
