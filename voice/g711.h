// G.711 A-law and mu-law: sample compression, code expansion tables, law conversion and the frame
// layer of codec types VOICE_G711_A and VOICE_G711_U.
#pragma once

#include <array>
#include <cstdint>

namespace orvo::voice {

// ---- Per-sample compression (the reference every kernel must match for all 65536 inputs) ----

constexpr uint8_t kALawPositiveMask = 0xD5;
constexpr uint8_t kALawNegativeMask = 0x55;
constexpr uint8_t kMuLawPositiveMask = 0xFF;
constexpr uint8_t kMuLawNegativeMask = 0x7F;
constexpr int kMuLawClip = 8159;
constexpr int kMuLawBias = 33;

// Number of the highest set bit plus one (0 for 0).
constexpr int BitLength(unsigned value)
{
    int length = 0;
    while (value != 0) {
        ++length;
        value >>= 1;
    }
    return length;
}

// A-law works on the 13 most significant bits of the sample.
constexpr uint8_t ALawCompress(int16_t sample)
{
    int x = sample >> 3;
    uint8_t mask = kALawPositiveMask;
    if (x < 0) {
        mask = kALawNegativeMask;
        x = ~x;
    }
    const int segment = x <= 0x1F ? 0 : BitLength(static_cast<unsigned>(x)) - 5;
    const int quant = segment <= 1 ? (x >> 1) & 0xF : (x >> segment) & 0xF;
    return static_cast<uint8_t>(((segment << 4) | quant) ^ mask);
}

// Mu-law works on the 14 most significant bits; magnitudes are clipped, then biased by 33.
constexpr uint8_t MuLawCompress(int16_t sample)
{
    int x = sample >> 2;
    uint8_t mask = kMuLawPositiveMask;
    if (x < 0) {
        mask = kMuLawNegativeMask;
        x = -x;
    }
    x = (x > kMuLawClip ? kMuLawClip : x) + kMuLawBias;
    const int segment = BitLength(static_cast<unsigned>(x)) - 6;
    if (segment == 8) // only the clipped magnitude gets here
        return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((segment << 4) | ((x >> (segment + 1)) & 0xF)) ^ mask);
}

// ---- Expansion ----

constexpr int16_t ALawExpand(uint8_t code)
{
    const int v = code ^ kALawNegativeMask;
    int t = (v & 0xF) << 4;
    const int segment = (v >> 4) & 7;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return static_cast<int16_t>((v & 0x80) ? t : -t);
}

constexpr int16_t MuLawExpand(uint8_t code)
{
    const int v = ~code & 0xFF;
    const int t = (((v & 0xF) << 3) + 0x84) << ((v >> 4) & 7);
    return static_cast<int16_t>((v & 0x80) ? 0x84 - t : t - 0x84);
}

using ExpandTable = std::array<int16_t, 256>;
using CodeTable = std::array<uint16_t, 256>;

template <int16_t (*Expand)(uint8_t)>
constexpr ExpandTable MakeExpandTable()
{
    ExpandTable table{};
    for (int code = 0; code < 256; ++code)
        table[code] = Expand(static_cast<uint8_t>(code));
    return table;
}

inline constexpr ExpandTable ALawToLinear = MakeExpandTable<ALawExpand>();
inline constexpr ExpandTable MuLawToLinear = MakeExpandTable<MuLawExpand>();

// The G.711 code conversions. Both keep the sign bit (bit 7) and treat a code and the code XOR
// 0x80 alike, so they are defined by the 128 codes of one sign.
extern const CodeTable ALawToMuLawTable;
extern const CodeTable MuLawToALawTable;

// ---- Array operations over 16-bit code slots (n <= 0 does nothing) ----

void G711_ALawEncode(const int16_t *samples, uint16_t *codes, int16_t n);
void G711_MuLawEncode(const int16_t *samples, uint16_t *codes, int16_t n);
void G711_ALawDecode(const uint16_t *codes, int16_t *samples, int16_t n);
void G711_MuLawDecode(const uint16_t *codes, int16_t *samples, int16_t n);
void G711_MuLawToALaw(const uint16_t *mu_codes, uint16_t *a_codes, int16_t n);
void G711_ALawToMuLaw(const uint16_t *a_codes, uint16_t *mu_codes, int16_t n);

// ---- Byte kernels used by the frame layer (scalar reference and vector versions) ----

struct G711Kernels {
    void (*alaw_encode)(const int16_t *samples, uint8_t *codes, int n);
    void (*mulaw_encode)(const int16_t *samples, uint8_t *codes, int n);
    void (*alaw_decode)(const uint8_t *codes, int16_t *samples, int n);
    void (*mulaw_decode)(const uint8_t *codes, int16_t *samples, int n);
};

void G711ALawEncode_scalar(const int16_t *samples, uint8_t *codes, int n);
void G711MuLawEncode_scalar(const int16_t *samples, uint8_t *codes, int n);
void G711ALawDecode_scalar(const uint8_t *codes, int16_t *samples, int n);
void G711MuLawDecode_scalar(const uint8_t *codes, int16_t *samples, int n);
#if (defined(__x86_64__) || defined(__i386__) || defined(_M_X64)) && !defined(ORVO_DISABLE_SIMD)
#define ORVO_VOICE_HAVE_AVX2_KERNELS 1
void G711ALawEncode_avx2(const int16_t *samples, uint8_t *codes, int n);
void G711MuLawEncode_avx2(const int16_t *samples, uint8_t *codes, int n);
void G711ALawDecode_avx2(const uint8_t *codes, int16_t *samples, int n);
void G711MuLawDecode_avx2(const uint8_t *codes, int16_t *samples, int n);
#endif

extern const G711Kernels kG711KernelsScalar;
// The kernels for this machine, chosen once (see simd.h).
const G711Kernels &G711ActiveKernels();

// ---- Frame layer ----

// Writes header and payload of a frame for `count` (1..481) samples into `frame`; returns
// `length` (count / 2). Type VOICE_G711_A selects A-law, any other type mu-law.
unsigned G711_EncodeFrame(const int16_t *samples, uint8_t *frame, int type, int count);
// Expands the 2 x `length` codes of an accepted frame into `samples`.
void G711_DecodeFrame(const uint8_t *frame, int16_t *samples, int type);

} // namespace orvo::voice
