// IMA ADPCM coder and decoder, and the frames of types 3 (DVI4) and 35 (IMA).
//
// Both loops run without data-dependent branches: the quantiser's three decisions become
// conditional moves, the clamps branches that only full-scale signals take, and the per-index
// work (next index for a code, reconstructed difference for a code) comes from small tables
// computed at compile time from ImaStepTable and ImaIndexTable. The results are those of the
// textbook steps, sample for sample (the tests hold a plain rendering of them).
#include "voice/adpcm.h"

#include "voice/frame.h"

namespace orvo::voice {
namespace {

constexpr int kMagnitudes = 8; // the 3-bit magnitude of a code

// value >= limit ? if_reached : otherwise, as a conditional move. The quantiser's decisions are
// coin tosses on speech, and compilers turn plain conditionals on them back into branches.
inline int SelectIfReached(int value, int limit, int if_reached, int otherwise)
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __asm__("cmpl %2, %1\n\tcmovgel %3, %0"
            : "+r"(otherwise)
            : "r"(value), "r"(limit), "rm"(if_reached)
            : "cc");
    return otherwise;
#else
    return value >= limit ? if_reached : otherwise;
#endif
}

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
            tables.next_index[index][magnitude] = static_cast<uint8_t>(ImaNextIndex(index, magnitude));
            tables.delta[index][magnitude] = ImaDifference(step, magnitude);
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

// The coder's state between samples packs the step size and the step index's row into one
// 64-bit word: step << 32 | byte offset of the row in kEncodeRows. A row holds that word for the
// step index each code magnitude moves on to, so the next step size is chosen by the quantiser's
// own decisions instead of being looked up after them.
constexpr int kPackedStepShift = 32;
constexpr uint64_t kPackedOffsetMask = 0xFFFFFFFFu;

struct alignas(64) ImaEncodeRow {
    uint64_t next[kMagnitudes];
};
static_assert(sizeof(ImaEncodeRow) == 64, "the coder's assembly addresses the fields by offset");

constexpr uint64_t PackStep(int index)
{
    return static_cast<uint64_t>(ImaStepTable[index]) << kPackedStepShift |
           static_cast<uint64_t>(index) * sizeof(ImaEncodeRow);
}

constexpr std::array<ImaEncodeRow, kImaStepCount> MakeEncodeRows()
{
    std::array<ImaEncodeRow, kImaStepCount> rows{};
    for (int index = 0; index < kImaStepCount; ++index)
        for (int magnitude = 0; magnitude < kMagnitudes; ++magnitude)
            rows[index].next[magnitude] = PackStep(kTables.next_index[index][magnitude]);
    return rows;
}

constexpr std::array<ImaEncodeRow, kImaStepCount> kEncodeRows = MakeEncodeRows();

// The quantiser for one sample: three decisions on |difference| against step, then the level
// reached plus step/2, then plus step/4. Returns the magnitude; `reached` receives the step
// fractions of its bits (the reconstructed |difference| less step/8) and `packed` moves on to
// the next step. Every decision picks the candidates of the next one while its comparison runs,
// and no table lookup waits for a decision. On x86-64 the selections are written out as
// conditional moves: compilers turn them back into branches, and the decisions are coin tosses
// on speech.
inline int Quantise(int magnitude_of_diff, int step, uint64_t &packed, int &reached)
{
    const ImaEncodeRow &row = *reinterpret_cast<const ImaEncodeRow *>(
        reinterpret_cast<const char *>(kEncodeRows.data()) + (packed & kPackedOffsetMask));
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // Unsigned comparisons (both sides are non-negative): the carry is set when a level is not
    // reached, so the three carries shifted in are the magnitude's bits inverted. Levels and
    // rows are named by the bits still open: level1_if2 is the bit-1 level when bit 2 is set,
    // next_b2b1 the row after magnitude ?b2b1. Magnitudes 0 to 3 all move on to the same row.
    const int half = step >> 1;
    const int quarter = step >> 2;
    int level2 = half, level1_if2 = half + quarter, level1 = quarter, inverted = 0, scratch;
    uint64_t next_11 = row.next[0], next_01 = next_11, next_10 = next_11, next = next_11;
    reached = 0;
    __asm__("cmpl %[s], %[d]\n\t"
            "leal (%[s],%[l2]), %[x]\n\t"
            "cmovael %[x], %[l2]\n\t"
            "leal (%[s],%[l12]), %[x]\n\t"
            "cmovael %[x], %[l12]\n\t"
            "leal (%[s],%[l1]), %[x]\n\t"
            "cmovael %[x], %[l1]\n\t"
            "cmovael %[s], %[r]\n\t"
            "cmovaeq 56(%[row]), %[n11]\n\t"
            "cmovaeq 40(%[row]), %[n01]\n\t"
            "cmovaeq 48(%[row]), %[n10]\n\t"
            "cmovaeq 32(%[row]), %[n]\n\t"
            "adcl %[m], %[m]\n\t"
            "cmpl %[l2], %[d]\n\t"
            "cmovael %[l12], %[l1]\n\t"
            "cmovael %[l2], %[r]\n\t"
            "cmovaeq %[n11], %[n01]\n\t"
            "cmovaeq %[n10], %[n]\n\t"
            "adcl %[m], %[m]\n\t"
            "cmpl %[l1], %[d]\n\t"
            "cmovael %[l1], %[r]\n\t"
            "cmovaeq %[n01], %[n]\n\t"
            "adcl %[m], %[m]"
            : [l2] "+&r"(level2), [l12] "+&r"(level1_if2), [l1] "+&r"(level1), [r] "+&r"(reached),
              [m] "+&r"(inverted), [n11] "+&r"(next_11), [n01] "+&r"(next_01),
              [n10] "+&r"(next_10), [n] "+&r"(next), [x] "=&r"(scratch)
            : [d] "r"(magnitude_of_diff), [s] "r"(step), [row] "r"(&row)
            : "cc");
    packed = next;
    return inverted ^ 7;
#else
    const bool bit4 = magnitude_of_diff >= step;
    int level = bit4 ? step : 0;
    const bool bit2 = magnitude_of_diff >= level + (step >> 1);
    level += bit2 ? step >> 1 : 0;
    const bool bit1 = magnitude_of_diff >= level + (step >> 2);
    level += bit1 ? step >> 2 : 0;
    const int magnitude = (bit4 << 2) | (bit2 << 1) | static_cast<int>(bit1);
    reached = level;
    packed = row.next[magnitude];
    return magnitude;
#endif
}

// One encoder step: returns the 4-bit code of `sample` and moves the predictor and the packed
// step on.
inline int EncodeOne(int sample, int &predicted, uint64_t &packed)
{
    const int step = static_cast<int>(packed >> kPackedStepShift);
    const int p = predicted;
    // Everything that depends on the sign alone is chosen before the quantiser has run.
    const int magnitude_of_diff = SelectIfReached(sample, p, sample - p, p - sample);
    const int moved = SelectIfReached(sample, p, p + (step >> 3), p - (step >> 3));
    int reached = 0;
    const int magnitude = Quantise(magnitude_of_diff, step, packed, reached);
    int next = SelectIfReached(sample, p, moved + reached, moved - reached);
    // Only full-scale signals reach the rails: a branch that is almost never taken keeps the clamp
    // off the chain from one sample to the next.
    if (__builtin_expect(static_cast<unsigned>(next - kSampleMin) > kSampleMax - kSampleMin, 0))
        next = ClampSample(next);
    predicted = next;
    return magnitude | (sample < p ? kImaSignBit : 0);
}

// The decoder's tables: the signed reconstructed difference for each step index and 4-bit code,
// the step index after one code, and the step index after a whole byte of two codes (first code
// in the high nibble). The last lets the step index, the decoder's only chain of dependent
// lookups, advance one byte at a time.
constexpr int kCodes = 16;
constexpr int kBytes = 256;

struct ImaDecodeTables {
    int32_t signed_delta[kImaStepCount][kCodes];
    uint8_t next_index[kImaStepCount][kCodes];
    uint8_t pair_next_index[kImaStepCount][kBytes];
};

constexpr ImaDecodeTables MakeDecodeTables()
{
    ImaDecodeTables tables{};
    for (int index = 0; index < kImaStepCount; ++index)
        for (int code = 0; code < kCodes; ++code) {
            const int delta = kTables.delta[index][code & 7];
            tables.signed_delta[index][code] = (code & kImaSignBit) ? -delta : delta;
            tables.next_index[index][code] = kTables.next_index[index][code & 7];
        }
    for (int index = 0; index < kImaStepCount; ++index)
        for (int byte = 0; byte < kBytes; ++byte)
            tables.pair_next_index[index][byte] =
                tables.next_index[tables.next_index[index][byte >> 4]][byte & 0xF];
    return tables;
}

constexpr ImaDecodeTables kDecode = MakeDecodeTables();

inline int16_t DecodeOne(int code, int &predicted, int index)
{
    int next = predicted + kDecode.signed_delta[index][code];
    // Only full-scale signals reach the rails: a branch that is almost never taken keeps the clamp
    // off the chain from one sample to the next.
    if (__builtin_expect(static_cast<unsigned>(next - kSampleMin) > kSampleMax - kSampleMin, 0))
        next = ClampSample(next);
    predicted = next;
    return static_cast<int16_t>(next);
}

// Decodes n codes; HighFirst selects which nibble of a byte holds the earlier code.
template <bool HighFirst>
void DecodeCodes(AdpcmState *state, const uint8_t *codes, int16_t *samples, int n)
{
    int predicted = state->predicted;
    int index = ClampIndex(state->step_index);
    int k = 0;
    for (; k + 1 < n; k += 2) {
        const int raw = codes[k >> 1];
        const int byte = HighFirst ? raw : ((raw << 4) | (raw >> 4)) & 0xFF;
        const int first = byte >> 4;
        const int second = byte & 0xF;
        samples[k] = DecodeOne(first, predicted, index);
        samples[k + 1] = DecodeOne(second, predicted, kDecode.next_index[index][first]);
        index = kDecode.pair_next_index[index][byte];
    }
    if (k < n) {
        const int raw = codes[k >> 1];
        const int first = (HighFirst ? raw >> 4 : raw) & 0xF;
        samples[k] = DecodeOne(first, predicted, index);
        index = kDecode.next_index[index][first];
    }
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
    uint64_t row = PackStep(ClampIndex(state->step_index));
    int k = 0;
    for (; k + 1 < n; k += 2) {
        const int first = EncodeOne(samples[k], predicted, row);
        const int second = EncodeOne(samples[k + 1], predicted, row);
        codes[k >> 1] = static_cast<uint8_t>((first << 4) | second);
    }
    if (k < n) // the held first code of an unfinished pair is not stored
        EncodeOne(samples[k], predicted, row);
    state->predicted = static_cast<int16_t>(predicted);
    state->step_index = static_cast<uint8_t>((row & kPackedOffsetMask) / sizeof(ImaEncodeRow));
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

AdpcmCoding ADPCM_BeginFrame(AdpcmState *state, const int16_t *samples, uint8_t *frame, int type, int count)
{
    uint8_t *payload = frame + kHeaderBytes;
    uint8_t *codes = payload + kBlockHeaderBytes;
    if (type == VOICE_ADPCM_IMA) {
        // The block carries its first sample, which restarts the predictor; the index runs on.
        state->predicted = samples[0];
        WriteBlockHeader(payload, samples[0], state->step_index);
        return {samples + 1, codes, count - 1};
    }
    WriteBlockHeader(payload, state->predicted, state->step_index);
    return {samples, codes, count};
}

unsigned ADPCM_FinishFrame(uint8_t *frame, int type, int count)
{
    unsigned length;
    if (type == VOICE_ADPCM_IMA) {
        const int coded = count - 1;
        ADPCM_SwapNibbles(frame + kHeaderBytes + kBlockHeaderBytes, static_cast<int16_t>(coded / 2));
        length = static_cast<unsigned>(coded / 4) + kBlockHeaderWords;
    } else {
        length = static_cast<unsigned>(count / 4) + kBlockHeaderWords;
    }
    WriteVoiceHeader(frame, length);
    return length;
}

unsigned ADPCM_EncodeFrame(AdpcmState *state, const int16_t *samples, uint8_t *frame, int type,
                           int count)
{
    const AdpcmCoding coding = ADPCM_BeginFrame(state, samples, frame, type, count);
    ADPCM_Coder(state, coding.samples, coding.codes, static_cast<int16_t>(coding.count));
    return ADPCM_FinishFrame(frame, type, count);
}

AdpcmDecoding ADPCM_BeginDecode(AdpcmState *state, const uint8_t *frame, int16_t *samples, int type)
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
        return {payload + kBlockHeaderBytes, samples + 1, codes, false, codes + 1};
    }
    return {payload + kBlockHeaderBytes, samples, codes, true, codes};
}

int ADPCM_DecodeFrame(AdpcmState *state, const uint8_t *frame, int16_t *samples, int type)
{
    const AdpcmDecoding decoding = ADPCM_BeginDecode(state, frame, samples, type);
    if (decoding.high_first)
        DecodeCodes<true>(state, decoding.codes, decoding.samples, decoding.count);
    else
        DecodeCodes<false>(state, decoding.codes, decoding.samples, decoding.count);
    return decoding.decoded;
}

} // namespace orvo::voice
