// IMA ADPCM coder and decoder, and the frames of types 3 (DVI4) and 35 (IMA).
//
// Both loops run without data-dependent branches: the quantiser's three decisions become masks,
// and the per-index work (next index for a code magnitude, reconstructed difference for a code)
// comes from small tables computed at compile time from ImaStepTable and ImaIndexTable.
#include "voice/adpcm.h"

#include <cstring>

#include "voice/frame.h"

namespace orvo::voice {
namespace {

constexpr int kMagnitudes = 8; // the 3-bit magnitude of a code

struct ImaTables {
    uint8_t next_index[kImaStepCount][kMagnitudes]; // step index after a code of this magnitude
    int32_t delta[kImaStepCount][kMagnitudes];      // reconstructed |difference| for a magnitude
};

constexpr ImaTables MakeImaTables()
{
    ImaTables tables{};
    for (int index = 0; index < kImaStepCount; ++index) {
        const int step = ImaStepTable[index];
        for (int magnitude = 0; magnitude < kMagnitudes; ++magnitude) {
            int next = index + ImaIndexTable[magnitude];
            next = next < 0 ? 0 : (next > kImaMaxIndex ? kImaMaxIndex : next);
            tables.next_index[index][magnitude] = static_cast<uint8_t>(next);
            int delta = step >> 3;
            if (magnitude & 4)
                delta += step;
            if (magnitude & 2)
                delta += step >> 1;
            if (magnitude & 1)
                delta += step >> 2;
            tables.delta[index][magnitude] = delta;
        }
    }
    return tables;
}

constexpr ImaTables kTables = MakeImaTables();
static_assert(ImaIndexTable[0] == ImaIndexTable[kImaSignBit], "the index step ignores the sign");

constexpr int kSampleMin = -32768;
constexpr int kSampleMax = 32767;

inline int ClampSample(int value)
{
    value = value < kSampleMin ? kSampleMin : value;
    return value > kSampleMax ? kSampleMax : value;
}

inline int ClampIndex(int index) { return index > kImaMaxIndex ? kImaMaxIndex : index; }

// One encoder step: returns the 4-bit code of `sample` and moves the predictor and step index on.
inline int EncodeOne(int sample, int &predicted, int &index)
{
    int step = ImaStepTable[index];
    int diff = sample - predicted;
    const int negative = diff >> 31; // 0, or -1 when the sample lies below the prediction
    diff = (diff ^ negative) - negative;
    int delta = step >> 3;
    int magnitude = 0;
    int take = -static_cast<int>(diff >= step);
    magnitude |= 4 & take;
    diff -= step & take;
    delta += step & take;
    step >>= 1;
    take = -static_cast<int>(diff >= step);
    magnitude |= 2 & take;
    diff -= step & take;
    delta += step & take;
    step >>= 1;
    take = -static_cast<int>(diff >= step);
    magnitude |= 1 & take;
    delta += step & take;
    predicted = ClampSample(predicted + ((delta ^ negative) - negative));
    index = kTables.next_index[index][magnitude];
    return magnitude | (kImaSignBit & negative);
}

inline int DecodeOne(int code, int &predicted, int &index)
{
    const int magnitude = code & 7;
    const int delta = kTables.delta[index][magnitude];
    const int negative = -((code >> 3) & 1);
    predicted = ClampSample(predicted + ((delta ^ negative) - negative));
    index = kTables.next_index[index][magnitude];
    return predicted;
}

// Decodes n codes; HighFirst selects which nibble of a byte holds the earlier code.
template <bool HighFirst>
void DecodeCodes(AdpcmState *state, const uint8_t *codes, int16_t *samples, int n)
{
    int predicted = state->predicted;
    int index = ClampIndex(state->step_index);
    constexpr int kFirstShift = HighFirst ? 4 : 0;
    constexpr int kSecondShift = HighFirst ? 0 : 4;
    int k = 0;
    for (; k + 1 < n; k += 2) {
        const int byte = codes[k >> 1];
        samples[k] = static_cast<int16_t>(DecodeOne(byte >> kFirstShift, predicted, index));
        samples[k + 1] = static_cast<int16_t>(DecodeOne(byte >> kSecondShift, predicted, index));
    }
    if (k < n)
        samples[k] = static_cast<int16_t>(DecodeOne(codes[k >> 1] >> kFirstShift, predicted, index));
    state->predicted = static_cast<int16_t>(predicted);
    state->step_index = static_cast<uint8_t>(index);
}

constexpr std::size_t kBlockSampleOffset = 0; // within the payload
constexpr std::size_t kBlockIndexOffset = 2;
constexpr std::size_t kBlockZeroOffset = 3;
constexpr std::size_t kBlockHeaderBytes = 4;
constexpr unsigned kBlockHeaderWords = 2;

void WriteBlockHeader(uint8_t *payload, int sample, int index)
{
    payload[kBlockSampleOffset] = static_cast<uint8_t>(sample & 0xFF);
    payload[kBlockSampleOffset + 1] = static_cast<uint8_t>((sample >> 8) & 0xFF);
    payload[kBlockIndexOffset] = static_cast<uint8_t>(index);
    payload[kBlockZeroOffset] = 0;
}

} // namespace

void ADPCM_Reset(AdpcmState *state)
{
    state->predicted = 0;
    state->step_index = 0;
}

void ADPCM_Coder(AdpcmState *state, const int16_t *samples, uint8_t *codes, int16_t n)
{
    if (n <= 0)
        return;
    int predicted = state->predicted;
    int index = ClampIndex(state->step_index);
    int k = 0;
    for (; k + 1 < n; k += 2) {
        const int first = EncodeOne(samples[k], predicted, index);
        const int second = EncodeOne(samples[k + 1], predicted, index);
        codes[k >> 1] = static_cast<uint8_t>((first << 4) | second);
    }
    if (k < n) // the held first code of an unfinished pair is not stored
        EncodeOne(samples[k], predicted, index);
    state->predicted = static_cast<int16_t>(predicted);
    state->step_index = static_cast<uint8_t>(index);
}

void ADPCM_Decoder(AdpcmState *state, const uint8_t *codes, int16_t *samples, int16_t n)
{
    if (n > 0)
        DecodeCodes<true>(state, codes, samples, n);
}

void ADPCM_SwapNibbles(uint8_t *bytes, int16_t n)
{
    for (int k = 0; k < n; ++k)
        bytes[k] = static_cast<uint8_t>((bytes[k] << 4) | (bytes[k] >> 4));
}

unsigned ADPCM_EncodeFrame(AdpcmState *state, const int16_t *samples, uint8_t *frame, int type,
                           int count)
{
    uint8_t *payload = frame + kHeaderBytes;
    uint8_t *codes = payload + kBlockHeaderBytes;
    unsigned length;
    if (type == VOICE_ADPCM_IMA) {
        // The block carries its first sample, which restarts the predictor; the index runs on.
        state->predicted = samples[0];
        WriteBlockHeader(payload, samples[0], state->step_index);
        const int coded = count - 1;
        ADPCM_Coder(state, samples + 1, codes, static_cast<int16_t>(coded));
        ADPCM_SwapNibbles(codes, static_cast<int16_t>(coded / 2));
        length = static_cast<unsigned>(coded / 4) + kBlockHeaderWords;
    } else {
        WriteBlockHeader(payload, state->predicted, state->step_index);
        ADPCM_Coder(state, samples, codes, static_cast<int16_t>(count));
        length = static_cast<unsigned>(count / 4) + kBlockHeaderWords;
    }
    WriteVoiceHeader(frame, length);
    return length;
}

int ADPCM_DecodeFrame(AdpcmState *state, const uint8_t *frame, int16_t *samples, int type)
{
    const uint8_t *payload = frame + kHeaderBytes;
    const int codes = 4 * (frame[kLengthOffset] - static_cast<int>(kBlockHeaderWords));
    const int16_t first =
        static_cast<int16_t>(payload[kBlockSampleOffset] | (payload[kBlockSampleOffset + 1] << 8));
    state->predicted = first;
    // A step index beyond the table has no meaning; the nearest valid one is used.
    state->step_index = static_cast<uint8_t>(ClampIndex(payload[kBlockIndexOffset]));
    if (type == VOICE_ADPCM_IMA) {
        samples[0] = first;
        DecodeCodes<false>(state, payload + kBlockHeaderBytes, samples + 1, codes);
        return codes + 1;
    }
    DecodeCodes<true>(state, payload + kBlockHeaderBytes, samples, codes);
    return codes;
}

} // namespace orvo::voice
