// RTP packets of talk frames: the header parser, the sender, the payload-type table, the payload
// conversions and the codec names.
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>

#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "talk/rtp/rtp_format.h"
#include "talk/talk_codec.h"
#include "voice/g726.h"

namespace orvo::talk::rtp {
namespace {

constexpr uint8_t kVersionShift = 6;
constexpr uint8_t kPaddingBit = 0x20;
constexpr uint8_t kExtensionBit = 0x10;
constexpr uint8_t kCsrcCountMask = 0x0F;
constexpr uint8_t kMarkerBit = 0x80;
constexpr uint8_t kPayloadTypeMask = 0x7F;
constexpr int32_t kCsrcBytes = 4;
constexpr int32_t kExtensionHeadBytes = 4;
constexpr int32_t kExtensionWordBytes = 4;
constexpr int32_t kTalkHeaderBytes = 2;
constexpr int32_t kFrameHeaderBytes = 4;
constexpr int32_t kTalkFrameOffset = kTalkHeaderBytes + kFrameHeaderBytes;
constexpr uint8_t kTalkHeaderByte0 = 0x80;
constexpr uint8_t kTalkHeaderByte1 = 0x06;
constexpr uint16_t kMarkerKindMask = 0x0300;
constexpr uint16_t kMarkerKindFrame = 0x0100;
constexpr int kBitsPerByte = 8;
constexpr int32_t kDynamicCount = ORVO_RTP_PT_DYNAMIC_LAST - ORVO_RTP_PT_DYNAMIC_FIRST + 1;
constexpr uint8_t kDvi4Reserved = 0;

std::atomic<int16_t> g_dynamicTypes[kDynamicCount] = {};
std::atomic<int32_t> g_sendPacking{ORVO_RTP_G726_AS_ANNOUNCED};
std::atomic<int32_t> g_receivePacking{ORVO_RTP_G726_AS_ANNOUNCED};

struct NamedCodec {
    int16_t type;
    const char *name;
    int32_t defaultPayloadType;
};

constexpr NamedCodec kCodecNames[] = {
    {VOICE_G711_U, "PCMU", ORVO_RTP_PT_PCMU},
    {VOICE_G711_A, "PCMA", ORVO_RTP_PT_PCMA},
    {VOICE_ADPCM_DVI4, "DVI4", ORVO_RTP_PT_DVI4},
    {VOICE_G726_16K, "G726-16", ORVO_RTP_PT_DYNAMIC_FIRST + 0},
    {VOICE_G726_24K, "G726-24", ORVO_RTP_PT_DYNAMIC_FIRST + 1},
    {VOICE_G726_32K, "G726-32", ORVO_RTP_PT_DYNAMIC_FIRST + 2},
    {VOICE_G726_40K, "G726-40", ORVO_RTP_PT_DYNAMIC_FIRST + 3},
    {VOICE_G726_16K_MSB, "AAL2-G726-16", ORVO_RTP_PT_DYNAMIC_FIRST + 4},
    {VOICE_G726_24K_MSB, "AAL2-G726-24", ORVO_RTP_PT_DYNAMIC_FIRST + 5},
    {VOICE_G726_32K_MSB, "AAL2-G726-32", ORVO_RTP_PT_DYNAMIC_FIRST + 6},
    {VOICE_G726_40K_MSB, "AAL2-G726-40", ORVO_RTP_PT_DYNAMIC_FIRST + 7},
};

const NamedCodec *FindCodec(int16_t type)
{
    for (const NamedCodec &codec : kCodecNames)
        if (codec.type == type)
            return &codec;
    return nullptr;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b))
            return false;
    return *a == *b;
}

uint16_t ReadBe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << kBitsPerByte | p[1]); }
uint32_t ReadBe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void WriteBe16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> kBitsPerByte);
    p[1] = static_cast<uint8_t>(v);
}
void WriteBe32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Splitmix64: spreads a weak seed (a clock, an address) over all bits.
uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::atomic<uint64_t> g_randomCounter{0};

} // namespace

G726Packing SendPacking() { return static_cast<G726Packing>(g_sendPacking.load(std::memory_order_relaxed)); }
G726Packing ReceivePacking()
{
    return static_cast<G726Packing>(g_receivePacking.load(std::memory_order_relaxed));
}
void SetPacking(bool send, G726Packing packing)
{
    (send ? g_sendPacking : g_receivePacking).store(static_cast<int32_t>(packing), std::memory_order_relaxed);
}

int16_t VoiceTypeOfPayloadType(int32_t payloadType)
{
    switch (payloadType) {
    case ORVO_RTP_PT_PCMU: return VOICE_G711_U;
    case ORVO_RTP_PT_PCMA: return VOICE_G711_A;
    case ORVO_RTP_PT_DVI4: return VOICE_ADPCM_DVI4;
    default: break;
    }
    if (payloadType < ORVO_RTP_PT_DYNAMIC_FIRST || payloadType > ORVO_RTP_PT_DYNAMIC_LAST)
        return 0;
    return g_dynamicTypes[payloadType - ORVO_RTP_PT_DYNAMIC_FIRST].load(std::memory_order_relaxed);
}

void ResetPayloadTable()
{
    for (auto &entry : g_dynamicTypes)
        entry.store(0, std::memory_order_relaxed);
    SetPacking(true, G726Packing::AsAnnounced);
    SetPacking(false, G726Packing::AsAnnounced);
}

int16_t ReceivedVoiceType(int32_t payloadType)
{
    int16_t type = VoiceTypeOfPayloadType(payloadType);
    G726Packing packing = ReceivePacking();
    if (packing != G726Packing::AsAnnounced)
        type = G726WithPacking(type, packing == G726Packing::ForceMsb);
    return type;
}

int32_t SamplesInPayload(int16_t type, int32_t bytes)
{
    if (bytes <= 0)
        return 0;
    if (type == VOICE_G711_A || type == VOICE_G711_U)
        return bytes;
    if (type == VOICE_ADPCM_DVI4)
        return bytes > kDvi4HeaderBytes ? 2 * (bytes - kDvi4HeaderBytes) : 0;
    if (int bits = G726BitsOf(type); bits != 0)
        return bytes * kBitsPerByte / bits;
    return 0;
}

int32_t ReceivablePayloadBytes(int16_t type, int32_t bytes)
{
    if (PlayableSamples(type, bytes) >= 0)
        return bytes;
    if (bytes <= 0 || bytes > kMaxReceivedPayload)
        return -1;
    // Longer (or odd-sized) G.711 and G.726 payloads are cut into frames later: a whole number
    // of codes is all they need.
    if (type == VOICE_G711_A || type == VOICE_G711_U)
        return bytes;
    if (int bits = G726BitsOf(type); bits != 0 && (bytes * kBitsPerByte) % bits == 0)
        return bytes;
    return -1;
}

int32_t RtpPayloadToFrame(int16_t type, const uint8_t *payload, int32_t bytes, uint8_t *frame,
                          int32_t capacity)
{
    if (ReceivablePayloadBytes(type, bytes) < 0 || bytes > capacity)
        return -1;
    std::memcpy(frame, payload, static_cast<size_t>(bytes));
    if (type == VOICE_ADPCM_DVI4) {
        // RFC 3551: big-endian predictor, index, reserved. The frame: little-endian predictor,
        // index, zero. The codes are alike: first code of a byte in the high nibble.
        frame[0] = payload[1];
        frame[1] = payload[0];
        frame[3] = 0;
    }
    return bytes;
}

int32_t FramePayloadToRtp(int16_t type, int16_t wireType, const uint8_t *frame, int32_t bytes,
                          uint8_t *payload, int32_t capacity)
{
    if (bytes <= 0 || bytes > capacity || bytes > INT16_MAX)
        return -1;
    std::memcpy(payload, frame, static_cast<size_t>(bytes));
    if (type == VOICE_ADPCM_DVI4) {
        if (bytes < kDvi4HeaderBytes)
            return -1;
        payload[0] = frame[1];
        payload[1] = frame[0];
        payload[3] = kDvi4Reserved;
    } else if (int bits = G726BitsOf(type); bits != 0 && IsG726Msb(type) != IsG726Msb(wireType)) {
        int status = IsG726Msb(wireType)
                         ? voice::G726_LsbToMsb(payload, bits, static_cast<int16_t>(bytes))
                         : voice::G726_MsbToLsb(payload, bits, static_cast<int16_t>(bytes));
        if (status != 0)
            return -1; // a byte count the other order cannot hold
    }
    return bytes;
}

uint32_t RandomWord()
{
    uint64_t seed = 0;
    try {
        std::random_device device;
        seed = static_cast<uint64_t>(device()) << 32 | device();
    } catch (...) { // no entropy source: the clock and a counter still differ per session
    }
    seed ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= g_randomCounter.fetch_add(1, std::memory_order_relaxed) << 48;
    seed ^= reinterpret_cast<uintptr_t>(&seed);
    return static_cast<uint32_t>(Mix(seed));
}

} // namespace orvo::talk::rtp

using namespace orvo::talk::rtp;

extern "C" {

ORVO_API int32_t Orvo_RtpParse(const unsigned char *data, int32_t length, OrvoRtpHeader *out)
{
    if (!data || !out || length < 0)
        return ORVO_RTP_ERR_ARGUMENT;
    if (length > ORVO_RTP_INPUT_MAX)
        return ORVO_RTP_ERR_OVERSIZE;
    if (length < kRtpHeaderBytes)
        return ORVO_RTP_ERR_SHORT;
    OrvoRtpHeader h{};
    h.version = static_cast<uint8_t>(data[0] >> kVersionShift);
    if (h.version != ORVO_RTP_VERSION)
        return ORVO_RTP_ERR_VERSION;
    h.padding = (data[0] & kPaddingBit) ? 1 : 0;
    h.extension = (data[0] & kExtensionBit) ? 1 : 0;
    h.csrc_count = data[0] & kCsrcCountMask;
    h.marker = (data[1] & kMarkerBit) ? 1 : 0;
    h.payload_type = data[1] & kPayloadTypeMask;
    h.sequence = ReadBe16(data + 2);
    h.timestamp = ReadBe32(data + 4);
    h.ssrc = ReadBe32(data + 8);
    int32_t offset = kRtpHeaderBytes;
    if (length - offset < h.csrc_count * kCsrcBytes)
        return ORVO_RTP_ERR_SHORT;
    for (int i = 0; i < h.csrc_count; ++i, offset += kCsrcBytes)
        h.csrc[i] = ReadBe32(data + offset);
    if (h.extension) {
        if (length - offset < kExtensionHeadBytes)
            return ORVO_RTP_ERR_SHORT;
        h.extension_profile = ReadBe16(data + offset);
        h.extension_length = ReadBe16(data + offset + 2) * kExtensionWordBytes;
        offset += kExtensionHeadBytes;
        if (length - offset < h.extension_length)
            return ORVO_RTP_ERR_SHORT;
        offset += h.extension_length;
    }
    int32_t rest = length - offset;
    if (h.padding) {
        // The last byte counts the padding, itself included: 0 or more than is left is malformed.
        if (rest <= 0)
            return ORVO_RTP_ERR_PADDING;
        h.padding_length = data[length - 1];
        if (h.padding_length == 0 || h.padding_length > rest)
            return ORVO_RTP_ERR_PADDING;
    }
    h.payload_offset = offset;
    h.payload_length = rest - h.padding_length;
    *out = h;
    return ORVO_RTP_OK;
}

ORVO_API int32_t Orvo_RtpSenderInit(OrvoRtpSender *sender, int16_t voice_type,
                                    int32_t payload_type, uint32_t ssrc)
{
    if (!sender)
        return ORVO_RTP_ERR_ARGUMENT;
    if (!FindCodec(voice_type))
        return ORVO_RTP_ERR_CODEC;
    if (payload_type == ORVO_RTP_PT_AUTO)
        payload_type = Orvo_RtpDefaultPayloadType(voice_type);
    if (payload_type < 0 || payload_type > kMaxPayloadType)
        return ORVO_RTP_ERR_ARGUMENT;
    OrvoRtpSender s{};
    s.ssrc = ssrc != 0 ? ssrc : RandomWord();
    s.timestamp = RandomWord();
    s.sequence = static_cast<uint16_t>(RandomWord());
    s.marker_pending = 1;
    s.payload_type = payload_type;
    s.voice_type = voice_type;
    *sender = s;
    return ORVO_RTP_OK;
}

ORVO_API void Orvo_RtpSenderStartSpurt(OrvoRtpSender *sender)
{
    if (sender)
        sender->marker_pending = 1;
}

ORVO_API int32_t Orvo_RtpFromTalkPacket(OrvoRtpSender *sender, const unsigned char *talk,
                                        int32_t talk_length, unsigned char *rtp, int32_t capacity)
{
    if (!sender || !talk || !rtp || talk_length < 0 || capacity < 0)
        return ORVO_RTP_ERR_ARGUMENT;
    if (!FindCodec(sender->voice_type) || sender->payload_type < 0 ||
        sender->payload_type > kMaxPayloadType)
        return ORVO_RTP_ERR_CODEC;
    if (talk_length < kTalkFrameOffset || talk[0] != kTalkHeaderByte0 || talk[1] != kTalkHeaderByte1)
        return ORVO_RTP_ERR_CODEC;
    uint16_t marker = static_cast<uint16_t>(talk[2] | talk[3] << kBitsPerByte);
    if ((marker & kMarkerKindMask) != kMarkerKindFrame)
        return ORVO_RTP_ERR_CODEC;
    int32_t payloadBytes = 2 * (talk[4] | talk[5] << kBitsPerByte);
    int32_t samples = SamplesInPayload(sender->voice_type, payloadBytes);
    if (talk_length != kTalkFrameOffset + payloadBytes || samples <= 0)
        return ORVO_RTP_ERR_CODEC;
    if (capacity < kRtpHeaderBytes + payloadBytes)
        return ORVO_RTP_ERR_CAPACITY;

    int16_t wireType = sender->voice_type;
    G726Packing packing = SendPacking();
    if (packing != G726Packing::AsAnnounced)
        wireType = orvo::talk::G726WithPacking(wireType, packing == G726Packing::ForceMsb);
    if (FramePayloadToRtp(sender->voice_type, wireType, talk + kTalkFrameOffset, payloadBytes,
                          rtp + kRtpHeaderBytes, capacity - kRtpHeaderBytes) < 0)
        return ORVO_RTP_ERR_CODEC;

    rtp[0] = ORVO_RTP_VERSION << kVersionShift; // no padding, extension or CSRC
    rtp[1] = static_cast<uint8_t>((sender->marker_pending ? kMarkerBit : 0) |
                                  (sender->payload_type & kPayloadTypeMask));
    WriteBe16(rtp + 2, sender->sequence);
    WriteBe32(rtp + 4, sender->timestamp);
    WriteBe32(rtp + 8, sender->ssrc);

    sender->sequence = static_cast<uint16_t>(sender->sequence + 1);
    sender->timestamp += static_cast<uint32_t>(samples);
    sender->marker_pending = 0;
    sender->packets_sent += 1;
    sender->octets_sent += static_cast<uint32_t>(payloadBytes);
    return kRtpHeaderBytes + payloadBytes;
}

ORVO_API int32_t Orvo_RtpDefaultPayloadType(int16_t voice_type)
{
    const NamedCodec *codec = FindCodec(voice_type);
    return codec ? codec->defaultPayloadType : -1;
}

ORVO_API int32_t Orvo_SetRtpPayloadType(int32_t payload_type, int16_t voice_type)
{
    if (payload_type < ORVO_RTP_PT_DYNAMIC_FIRST || payload_type > ORVO_RTP_PT_DYNAMIC_LAST)
        return ORVO_RTP_ERR_ARGUMENT;
    if (voice_type != 0 && !FindCodec(voice_type))
        return ORVO_RTP_ERR_CODEC;
    g_dynamicTypes[payload_type - ORVO_RTP_PT_DYNAMIC_FIRST].store(voice_type, std::memory_order_relaxed);
    return ORVO_RTP_OK;
}

ORVO_API int32_t Orvo_SetRtpG726Packing(int32_t direction, int32_t packing)
{
    if (direction != ORVO_AUDIO_CAPTURE && direction != ORVO_AUDIO_PLAYBACK)
        return ORVO_RTP_ERR_ARGUMENT;
    if (packing != ORVO_RTP_G726_AS_ANNOUNCED && packing != ORVO_RTP_G726_FORCE_LSB &&
        packing != ORVO_RTP_G726_FORCE_MSB)
        return ORVO_RTP_ERR_ARGUMENT;
    SetPacking(direction == ORVO_AUDIO_CAPTURE, static_cast<G726Packing>(packing));
    return ORVO_RTP_OK;
}

ORVO_API int16_t Orvo_RtpVoiceTypeFromName(const char *encoding_name)
{
    if (!encoding_name)
        return 0;
    for (const NamedCodec &codec : kCodecNames)
        if (EqualsIgnoringCase(codec.name, encoding_name))
            return codec.type;
    return 0;
}

ORVO_API const char *Orvo_RtpNameOfVoiceType(int16_t voice_type)
{
    const NamedCodec *codec = FindCodec(voice_type);
    return codec ? codec->name : nullptr;
}

ORVO_API int16_t Orvo_RtpVoiceTypeOfPayloadType(int32_t payload_type)
{
    return VoiceTypeOfPayloadType(payload_type);
}

ORVO_API const char *Orvo_RtpStatusText(int32_t status)
{
    if (status >= 0)
        return "success";
    switch (status) {
    case ORVO_RTP_ERR_ARGUMENT: return "bad argument";
    case ORVO_RTP_ERR_NOT_RUNNING: return "talk service not running";
    case ORVO_RTP_ERR_SHORT: return "packet shorter than its header";
    case ORVO_RTP_ERR_VERSION: return "not RTP version 2";
    case ORVO_RTP_ERR_PADDING: return "bad padding length";
    case ORVO_RTP_ERR_PAYLOAD_TYPE: return "payload type with no codec";
    case ORVO_RTP_ERR_LENGTH: return "payload length not a frame of the codec";
    case ORVO_RTP_ERR_OVERSIZE: return "packet longer than 65535 bytes";
    case ORVO_RTP_ERR_FULL: return "receive queue full";
    case ORVO_RTP_ERR_CAPACITY: return "output buffer too small";
    case ORVO_RTP_ERR_CODEC: return "codec not carried over RTP, or not a frame of it";
    case ORVO_RTP_ERR_SDP: return "not a session description";
    default: return "unknown status";
    }
}

} // extern "C"
