// Shared by the talk tests: a deterministic capture source, a reference mu-law coder, and a lookup
// from a packet's payload back to the source sample it starts at.
#ifndef ORVO_TESTS_TALK_TEST_SUPPORT_H
#define ORVO_TESTS_TALK_TEST_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace orvo::talk::testing {

constexpr int kPacketBytes = 166;
constexpr int kPayloadBytes = 160;
constexpr int kPayloadOffset = 6;
constexpr uint8_t kPacketHead[kPayloadOffset] = {0x80, 0x06, 0x00, 0x01, 0x50, 0x00};

// Pseudo-random samples over the whole 16-bit range: 8 consecutive mu-law codes identify the place.
inline int16_t SourceSample(uint64_t index)
{
    uint32_t x = static_cast<uint32_t>(index) * 2654435761u + 0x9E3779B9u;
    x ^= x >> 13;
    x *= 0x5BD1E995u;
    x ^= x >> 15;
    return static_cast<int16_t>(x & 0xFFFF);
}

// ITU-T G.711 mu-law of one 16-bit sample (14 most significant bits, bias 33, clip at 8159).
inline uint8_t MuLaw(int16_t sample)
{
    constexpr int kClip = 8159;
    constexpr int kBias = 33;
    int x = sample >> 2;
    uint8_t mask = 0xFF;
    if (x < 0) {
        x = -x;
        mask = 0x7F;
    }
    if (x > kClip)
        x = kClip;
    x += kBias;
    int top = 31 - __builtin_clz(static_cast<unsigned>(x));
    int segment = top - 5;
    if (segment >= 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((segment << 4) | ((x >> (segment + 1)) & 0xF)) ^ mask);
}

inline std::vector<uint8_t> MuLawOfSource(uint64_t first, int count = kPayloadBytes)
{
    std::vector<uint8_t> codes(count);
    for (int i = 0; i < count; ++i)
        codes[i] = MuLaw(SourceSample(first + i));
    return codes;
}

// Finds the source index a payload starts at (payloads are checked in full), or -1.
class SourceIndex {
public:
    explicit SourceIndex(uint64_t samples)
    {
        m_codes.resize(samples + kPayloadBytes);
        for (uint64_t i = 0; i < m_codes.size(); ++i)
            m_codes[i] = MuLaw(SourceSample(i));
        for (uint64_t i = 0; i + kKeyBytes <= samples; ++i)
            m_starts.emplace(Key(&m_codes[i]), i);
    }
    int64_t Find(const uint8_t *payload) const
    {
        auto range = m_starts.equal_range(Key(payload));
        for (auto it = range.first; it != range.second; ++it) {
            if (std::memcmp(&m_codes[it->second], payload, kPayloadBytes) == 0)
                return static_cast<int64_t>(it->second);
        }
        return -1;
    }

private:
    static constexpr int kKeyBytes = 8;
    static uint64_t Key(const uint8_t *codes)
    {
        uint64_t key;
        std::memcpy(&key, codes, sizeof key);
        return key;
    }
    std::vector<uint8_t> m_codes;
    std::unordered_multimap<uint64_t, uint64_t> m_starts;
};

} // namespace orvo::talk::testing

#endif // ORVO_TESTS_TALK_TEST_SUPPORT_H
