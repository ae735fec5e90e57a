// AVX2 G.711 kernels: 16 samples per vector, 16-bit lanes. Segment numbers come from a nibble
// table (pshufb), per-lane shifts from multiplications by powers of two, so every lane runs the
// same instructions and the results equal the per-sample functions for all 65536 inputs.
#include <immintrin.h>

#include "voice/g711.h"
#include "voice/kernel_tail.h"

namespace orvo::voice {
namespace {

constexpr int kLanes = 16;

inline __m256i Broadcast16Bytes(const int8_t (&bytes)[16])
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes)));
}

// Bit length of a value 0..127 held in the low byte of each 16-bit lane (high byte 0).
inline __m256i BitLength7(__m256i value)
{
    alignas(16) static const int8_t kLow[16] = {0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4};
    alignas(16) static const int8_t kHigh[16] = {0, 5, 6, 6, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8};
    const __m256i low = _mm256_and_si256(value, _mm256_set1_epi16(0x0F));
    const __m256i high = _mm256_srli_epi16(value, 4);
    return _mm256_max_epu8(_mm256_shuffle_epi8(Broadcast16Bytes(kLow), low),
                           _mm256_shuffle_epi8(Broadcast16Bytes(kHigh), high));
}

// 16-bit multipliers whose high byte is table[index] and low byte 0; mulhi by them shifts right.
inline __m256i HighByteFromTable(const int8_t (&table)[16], __m256i index)
{
    return _mm256_slli_epi16(_mm256_shuffle_epi8(Broadcast16Bytes(table), index), 8);
}

inline __m256i ALaw16(__m256i sample)
{
    // Segment s > 1 takes bits s..s+3, segments 0 and 1 bits 1..4: mulhi by 2^(16 - max(s, 1)).
    alignas(16) static const int8_t kShift[16] = {-128, -128, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02};
    const __m256i x13 = _mm256_srai_epi16(sample, 3);
    const __m256i negative = _mm256_srai_epi16(x13, 15);
    const __m256i x = _mm256_xor_si256(x13, negative); // complement of negative values: 0..4095
    const __m256i segment = BitLength7(_mm256_srli_epi16(x, 5));
    const __m256i quant = _mm256_and_si256(_mm256_mulhi_epu16(x, HighByteFromTable(kShift, segment)),
                                           _mm256_set1_epi16(0x0F));
    const __m256i code = _mm256_or_si256(_mm256_slli_epi16(segment, 4), quant);
    const __m256i mask = _mm256_xor_si256(_mm256_set1_epi16(kALawPositiveMask),
                                          _mm256_and_si256(negative, _mm256_set1_epi16(0x80)));
    return _mm256_xor_si256(code, mask);
}

inline __m256i MuLaw16(__m256i sample)
{
    alignas(16) static const int8_t kShift[16] = {-128, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
    const __m256i x = _mm256_srai_epi16(sample, 2);
    const __m256i negative = _mm256_srai_epi16(x, 15);
    // Clipping one below the limit gives segment 7, step 15 where the limit itself would give the
    // overflow segment 8: both produce the code 0x7F before the mask.
    __m256i magnitude = _mm256_min_epi16(_mm256_abs_epi16(x), _mm256_set1_epi16(kMuLawClip - 1));
    magnitude = _mm256_add_epi16(magnitude, _mm256_set1_epi16(kMuLawBias)); // 33..8191
    const __m256i segment = BitLength7(_mm256_srli_epi16(magnitude, 6));
    const __m256i step = _mm256_and_si256(
        _mm256_mulhi_epu16(magnitude, HighByteFromTable(kShift, segment)), _mm256_set1_epi16(0x0F));
    const __m256i code = _mm256_or_si256(_mm256_slli_epi16(segment, 4), step);
    const __m256i mask = _mm256_xor_si256(_mm256_set1_epi16(kMuLawPositiveMask),
                                          _mm256_and_si256(negative, _mm256_set1_epi16(0x80)));
    return _mm256_xor_si256(code, mask);
}

template <__m256i (*Compress)(__m256i)>
void EncodeBlocks(const int16_t *samples, uint8_t *codes, int n)
{
    int k = 0;
    for (; k + 2 * kLanes <= n; k += 2 * kLanes) {
        const __m256i a = Compress(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + k)));
        const __m256i b =
            Compress(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + k + kLanes)));
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(codes + k), packed);
    }
    if (k < n) { // one block of 16 left
        const __m256i a = Compress(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + k)));
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, a), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(codes + k), _mm256_castsi256_si128(packed));
    }
}

// Power-of-two multipliers from a table: the index lanes get 0x80 in their high byte so that
// pshufb writes 0 there.
inline __m256i LowByteFromTable(const int8_t (&table)[16], __m256i index)
{
    return _mm256_shuffle_epi8(Broadcast16Bytes(table),
                               _mm256_or_si256(index, _mm256_set1_epi16(static_cast<int16_t>(0x8000))));
}

inline __m256i ALawExpand16(__m256i code)
{
    alignas(16) static const int8_t kScale[16] = {1, 1, 2, 4, 8, 16, 32, 64};
    const __m256i v = _mm256_xor_si256(code, _mm256_set1_epi16(kALawNegativeMask));
    const __m256i segment = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi16(7));
    // Segment 0 adds 8, the others 0x108 before scaling.
    const __m256i first = _mm256_and_si256(_mm256_cmpeq_epi16(segment, _mm256_setzero_si256()),
                                           _mm256_set1_epi16(0x100));
    __m256i t = _mm256_slli_epi16(_mm256_and_si256(v, _mm256_set1_epi16(0x0F)), 4);
    t = _mm256_sub_epi16(_mm256_add_epi16(t, _mm256_set1_epi16(0x108)), first);
    t = _mm256_mullo_epi16(t, LowByteFromTable(kScale, segment));
    const __m256i negative = _mm256_srai_epi16(_mm256_slli_epi16(_mm256_xor_si256(v, _mm256_set1_epi16(0x80)), 8), 15);
    return _mm256_sub_epi16(_mm256_xor_si256(t, negative), negative);
}

inline __m256i MuLawExpand16(__m256i code)
{
    alignas(16) static const int8_t kScale[16] = {1, 2, 4, 8, 16, 32, 64, -128};
    const __m256i v = _mm256_xor_si256(code, _mm256_set1_epi16(0xFF));
    const __m256i exponent = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi16(7));
    __m256i t = _mm256_slli_epi16(_mm256_and_si256(v, _mm256_set1_epi16(0x0F)), 3);
    t = _mm256_add_epi16(t, _mm256_set1_epi16(0x84));
    // 128 does not fit a signed byte; read the table entry as the unsigned byte 0x80.
    t = _mm256_mullo_epi16(t, LowByteFromTable(kScale, exponent));
    const __m256i magnitude = _mm256_sub_epi16(t, _mm256_set1_epi16(0x84));
    const __m256i negative = _mm256_srai_epi16(_mm256_slli_epi16(v, 8), 15);
    return _mm256_sub_epi16(_mm256_xor_si256(magnitude, negative), negative);
}

template <__m256i (*Expand)(__m256i)>
void DecodeBlocks(const uint8_t *codes, int16_t *samples, int n)
{
    for (int k = 0; k < n; k += kLanes) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(codes + k));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + k), Expand(_mm256_cvtepu8_epi16(bytes)));
    }
}

} // namespace

void G711ALawEncode_avx2(const int16_t *samples, uint8_t *codes, int n)
{
    RunBlocks<kLanes>(EncodeBlocks<ALaw16>, G711ALawEncode_scalar, samples, codes, n);
}

void G711MuLawEncode_avx2(const int16_t *samples, uint8_t *codes, int n)
{
    RunBlocks<kLanes>(EncodeBlocks<MuLaw16>, G711MuLawEncode_scalar, samples, codes, n);
}

void G711ALawDecode_avx2(const uint8_t *codes, int16_t *samples, int n)
{
    RunBlocks<kLanes>(DecodeBlocks<ALawExpand16>, G711ALawDecode_scalar, codes, samples, n);
}

void G711MuLawDecode_avx2(const uint8_t *codes, int16_t *samples, int n)
{
    RunBlocks<kLanes>(DecodeBlocks<MuLawExpand16>, G711MuLawDecode_scalar, codes, samples, n);
}

} // namespace orvo::voice
