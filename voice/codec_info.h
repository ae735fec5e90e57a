// What the frame layer needs to know about a codec type: its family, code width and bit order,
// and the frame size rules of the decoder. Shared by the single-channel and the batched calls.
#pragma once

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/frame.h"
#include "voice/g726.h"

#include <cstring>

namespace orvo::voice {

enum class Family { Unsupported, G711, Adpcm, G726 };

struct TypeInfo {
    Family family;
    int bits;       // bits per code
    bool msb_first; // G.726 payload re-ordered most significant bit first
};

constexpr int kMsbTypeOffset = VOICE_G726_16K_MSB - VOICE_G726_16K;
constexpr int kG726SmallestBits = 2;

constexpr TypeInfo Classify(int type)
{
    switch (type) {
    case VOICE_G711_A:
    case VOICE_G711_U:
        return {Family::G711, 8, false};
    case VOICE_ADPCM_DVI4:
    case VOICE_ADPCM_IMA:
        return {Family::Adpcm, 4, false};
    case VOICE_G726_16K:
    case VOICE_G726_24K:
    case VOICE_G726_32K:
    case VOICE_G726_40K:
        return {Family::G726, type - VOICE_G726_16K + kG726SmallestBits, false};
    case VOICE_G726_16K_MSB:
    case VOICE_G726_24K_MSB:
    case VOICE_G726_32K_MSB:
    case VOICE_G726_40K_MSB:
        return {Family::G726, type - kMsbTypeOffset - VOICE_G726_16K + kG726SmallestBits, true};
    default:
        return {Family::Unsupported, 0, false};
    }
}

// G.711 and G.726 frames decode only to whole multiples of 80 samples, up to 480.
constexpr int kDecodeBlockSamples = 80;
constexpr int kAdpcmMinLength = 2; // the block header alone

// Samples that a frame of `length` words decodes to, or -1 when the length is refused.
// Divisions truncate, so some lengths (16 words at 24 kbit/s: 85 samples) fall out.
constexpr int DecodedSamples(const TypeInfo &info, int type, int length)
{
    int samples = 0;
    switch (info.family) {
    case Family::Adpcm:
        // A frame of one word would hold half a block header: refused like a frame of none.
        samples = AdpcmSamplesForLength(type, length);
        return length >= kAdpcmMinLength && 4 * length - 7 <= kMaxSamples ? samples : -1;
    case Family::G711:
        samples = 2 * length;
        break;
    case Family::G726:
        samples = 16 * length / info.bits;
        break;
    case Family::Unsupported:
        return -1;
    }
    return samples <= kMaxSamples && samples % kDecodeBlockSamples == 0 ? samples : -1;
}

// A G.726 frame around its codes. Before coding: the packer merges a code that starts a byte into
// what the byte held, so every byte it touches is cleared and no stale bits reach the caller.
inline void G726_BeginFrame(uint8_t *frame, int bits, int count)
{
    const int packed_samples = count & ~1;
    std::memset(frame + kHeaderBytes, 0, static_cast<std::size_t>(packed_samples * bits + 7) / 8);
}

// After coding: the header, and the MSB-first order where the type has it; returns `length`.
inline unsigned G726_FinishFrame(uint8_t *frame, const TypeInfo &info, int count)
{
    const unsigned length = static_cast<unsigned>(count * info.bits / 16);
    WriteVoiceHeader(frame, length);
    if (info.msb_first) // -1 leaves LSB order
        G726_LsbToMsb(frame + kHeaderBytes, info.bits, static_cast<int16_t>(2 * length));
    return length;
}

} // namespace orvo::voice
