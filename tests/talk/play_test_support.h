// Helpers for the playback tests: mu-law frames that can be recognised after decoding, and the
// blocks the virtual playback device played, turned back into frame numbers.
#ifndef ORVO_TESTS_TALK_PLAY_TEST_SUPPORT_H
#define ORVO_TESTS_TALK_PLAY_TEST_SUPPORT_H

#include <cstdint>
#include <vector>

#include "orvoaudio/voice.h"
#include "platform/virtual/virtual_platform.h"

namespace orvo::talk::testing {

constexpr int kFrameSamples = 160;
constexpr int kMaxFrameId = 120; // mu-law codes 0 to 120 decode to distinct values

// The payload of frame `id`: every code equal to id, so each decoded sample names the frame.
inline std::vector<uint8_t> FramePayload(int id, int samples = kFrameSamples)
{
    return std::vector<uint8_t>(static_cast<size_t>(samples), static_cast<uint8_t>(id % (kMaxFrameId + 1)));
}

// A complete talk packet for `payload`: 0x80 0x06, marker 0x0100, length in words, payload.
inline std::vector<uint8_t> TalkPacketFor(const std::vector<uint8_t> &payload)
{
    size_t words = payload.size() / 2;
    std::vector<uint8_t> packet = {0x80, 0x06, 0x00, 0x01, static_cast<uint8_t>(words & 0xFF),
                                   static_cast<uint8_t>(words >> 8)};
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

// The samples the mu-law decoder gives for `payload` (empty if it refuses the length).
inline std::vector<int16_t> DecodeMuLaw(const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> frame = {0x00, 0x01, static_cast<uint8_t>((payload.size() / 2) & 0xFF),
                                  static_cast<uint8_t>((payload.size() / 2) >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    VoiceCodecState state{};
    HI_VOICE_DecReset(&state, VOICE_G711_U);
    std::vector<int16_t> samples(HI_VOICE_MAX_SAMPLES);
    int16_t count = 0;
    HI_VOICE_DecodeFrame(&state, frame.data(), samples.data(), &count);
    samples.resize(static_cast<size_t>(count));
    return samples;
}

// The frame id a played block carries: -1 for an empty block, -2 for one that is not a uniform
// frame of FramePayload.
inline int FrameIdOf(const std::vector<int16_t> &samples)
{
    if (samples.empty())
        return -1;
    for (int id = 0; id <= kMaxFrameId; ++id) {
        if (DecodeMuLaw(FramePayload(id, static_cast<int>(samples.size()))) == samples)
            return id;
    }
    return -2;
}

inline std::vector<int> PlayedFrameIds()
{
    std::vector<int> ids;
    for (const platform::virt::PlayedBlock &block : platform::virt::PlayedBlocks())
        ids.push_back(FrameIdOf(block.samples));
    return ids;
}

// The order the repeat rule plays frames first, first+1, ... last in, while 1 to 14 frames wait and
// the repeat counter starts at 10: ten frames once, the eleventh twice, then every ninth twice.
inline std::vector<int> StretchedOrder(int first, int last)
{
    std::vector<int> ids;
    int counter = 10;
    for (int id = first; id <= last; ++id) {
        if (counter <= 0) { // repeat, then consume
            ids.push_back(id);
            counter = 10 - 1;
        }
        ids.push_back(id);
        if (counter <= 0)
            counter = 10;
        --counter;
    }
    return ids;
}

} // namespace orvo::talk::testing

#endif // ORVO_TESTS_TALK_PLAY_TEST_SUPPORT_H
