// RTP framing without threads: the header parser against RFC 3550 layouts (CSRC list, header
// extension, padding, every refusal), the sender's header fields and counters, the DVI4 layout of
// RFC 3551, the G.726 bit-order override, codec names and payload types, the G.711 code
// conversions and the SDP writer and reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "talk/rtp/rtp_format.h"

namespace orvo::talk {
namespace {

using Bytes = std::vector<uint8_t>;

// A 12-byte header: V=2 with the given first-byte flags, payload type, sequence 0x1234,
// timestamp 0x01020304, SSRC 0xA1B2C3D4.
Bytes Header(uint8_t flags, uint8_t secondByte)
{
    return {static_cast<uint8_t>(0x80 | flags), secondByte, 0x12, 0x34, 0x01, 0x02, 0x03, 0x04,
            0xA1, 0xB2, 0xC3, 0xD4};
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct ParseCase {
    const char *name;
    Bytes packet;
    int32_t status;
    int32_t payloadOffset;
    int32_t payloadLength;
};

TEST(RtpParse, HeaderLayoutsAndRefusals)
{
    const Bytes payload(160, 0xFF);
    const Bytes csrc2 = {0, 0, 0, 1, 0, 0, 0, 2};
    const Bytes extension = {0xBE, 0xDE, 0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8}; // 2 words
    const Bytes padding3 = {0, 0, 3};
    const std::vector<ParseCase> cases = {
        {"plain", Concat({Header(0, 0x00), payload}), ORVO_RTP_OK, 12, 160},
        {"header only", Header(0, 0x00), ORVO_RTP_OK, 12, 0},
        {"two CSRC", Concat({Header(0x02, 0x00), csrc2, payload}), ORVO_RTP_OK, 20, 160},
        {"extension", Concat({Header(0x10, 0x00), extension, payload}), ORVO_RTP_OK, 24, 160},
        {"padding", Concat({Header(0x20, 0x00), payload, padding3}), ORVO_RTP_OK, 12, 160},
        {"all three", Concat({Header(0x32, 0x80), csrc2, extension, payload, padding3}),
         ORVO_RTP_OK, 32, 160},
        {"padding only", Concat({Header(0x20, 0x00), padding3}), ORVO_RTP_OK, 12, 0},
        {"eleven bytes", Bytes{0x80, 0, 0x12, 0x34, 1, 2, 3, 4, 0xA1, 0xB2, 0xC3}, ORVO_RTP_ERR_SHORT, 0, 0},
        {"empty", Bytes{}, ORVO_RTP_ERR_SHORT, 0, 0},
        {"CSRC beyond end", Concat({Header(0x0F, 0x00), Bytes(56, 0)}), ORVO_RTP_ERR_SHORT, 0, 0},
        {"extension head cut", Concat({Header(0x10, 0x00), Bytes{0xBE, 0xDE}}), ORVO_RTP_ERR_SHORT, 0, 0},
        {"extension data cut", Concat({Header(0x10, 0x00), Bytes{0xBE, 0xDE, 0x00, 0x03, 1, 2, 3, 4}}),
         ORVO_RTP_ERR_SHORT, 0, 0},
        {"padding count 0", Concat({Header(0x20, 0x00), payload, Bytes{0}}), ORVO_RTP_ERR_PADDING, 0, 0},
        {"padding beyond payload", Concat({Header(0x20, 0x00), Bytes{1, 2, 9}}), ORVO_RTP_ERR_PADDING, 0, 0},
        {"padding without payload", Header(0x20, 0x00), ORVO_RTP_ERR_PADDING, 0, 0},
        {"version 0", Concat({{0x00, 0x00}, Bytes(10, 0), payload}), ORVO_RTP_ERR_VERSION, 0, 0},
        {"version 1", Concat({{0x40, 0x00}, Bytes(10, 0), payload}), ORVO_RTP_ERR_VERSION, 0, 0},
        {"version 3", Concat({{0xC0, 0x00}, Bytes(10, 0), payload}), ORVO_RTP_ERR_VERSION, 0, 0},
        {"64 KiB", Bytes(65536, 0x80), ORVO_RTP_ERR_OVERSIZE, 0, 0},
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.name);
        // The packet sits at the end of its allocation, so any read beyond it is caught.
        std::vector<uint8_t> exact(c.packet);
        OrvoRtpHeader h{};
        const uint8_t kEmpty = 0;
        int32_t status = Orvo_RtpParse(exact.empty() ? &kEmpty : exact.data(),
                                       static_cast<int32_t>(exact.size()), &h);
        ASSERT_EQ(status, c.status) << Orvo_RtpStatusText(status);
        if (status != ORVO_RTP_OK)
            continue;
        EXPECT_EQ(h.version, 2);
        EXPECT_EQ(h.sequence, 0x1234);
        EXPECT_EQ(h.timestamp, 0x01020304u);
        EXPECT_EQ(h.ssrc, 0xA1B2C3D4u);
        EXPECT_EQ(h.payload_offset, c.payloadOffset);
        EXPECT_EQ(h.payload_length, c.payloadLength);
    }
}

TEST(RtpParse, FieldsOfCsrcExtensionPaddingAndMarker)
{
    Bytes packet = Concat({Header(0x32, 0x80 | 97), {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE},
                           {0x10, 0x00, 0x00, 0x01, 9, 9, 9, 9}, Bytes(80, 0x55), {0, 2}});
    OrvoRtpHeader h{};
    ASSERT_EQ(Orvo_RtpParse(packet.data(), static_cast<int32_t>(packet.size()), &h), ORVO_RTP_OK);
    EXPECT_EQ(h.marker, 1);
    EXPECT_EQ(h.payload_type, 97);
    EXPECT_EQ(h.padding, 1);
    EXPECT_EQ(h.extension, 1);
    EXPECT_EQ(h.csrc_count, 2);
    EXPECT_EQ(h.csrc[0], 1u);
    EXPECT_EQ(h.csrc[1], 0xFFFFFFFEu);
    EXPECT_EQ(h.extension_profile, 0x1000);
    EXPECT_EQ(h.extension_length, 4);
    EXPECT_EQ(h.padding_length, 2);
    EXPECT_EQ(h.payload_offset, 12 + 8 + 8);
    EXPECT_EQ(h.payload_length, 80);
}

TEST(RtpParse, NullAndNegativeArguments)
{
    OrvoRtpHeader h{};
    Bytes packet = Header(0, 0);
    EXPECT_EQ(Orvo_RtpParse(nullptr, 12, &h), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_RtpParse(packet.data(), 12, nullptr), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_RtpParse(packet.data(), -1, &h), ORVO_RTP_ERR_ARGUMENT);
}

// A talk packet (0x80 0x06 + voice frame) of `type` coding `samples`, from a given encoder.
Bytes TalkPacket(VoiceCodecState &encoder, const std::vector<int16_t> &samples)
{
    uint8_t frame[484];
    EXPECT_EQ(HI_VOICE_EncodeFrame(&encoder, samples.data(), frame,
                                   static_cast<int16_t>(samples.size())), 0);
    size_t frameBytes = 4 + 2 * static_cast<size_t>(frame[2]);
    Bytes packet(2 + frameBytes);
    packet[0] = 0x80;
    packet[1] = 0x06;
    std::memcpy(packet.data() + 2, frame, frameBytes);
    return packet;
}

std::vector<int16_t> Tone(int n, int phase = 0)
{
    std::vector<int16_t> s(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        s[static_cast<size_t>(i)] = static_cast<int16_t>(((i + phase) * 389 % 2000 - 1000) * 9);
    return s;
}

TEST(RtpSender, HeaderSequenceTimestampMarkerAndWrap)
{
    OrvoRtpSender s;
    ASSERT_EQ(Orvo_RtpSenderInit(&s, VOICE_G711_U, ORVO_RTP_PT_AUTO, 0x11223344u), 0);
    EXPECT_EQ(s.payload_type, 0);
    EXPECT_EQ(s.ssrc, 0x11223344u);
    EXPECT_EQ(s.marker_pending, 1);
    s.sequence = 65535; // continue a stream just before the wrap
    s.timestamp = 0xFFFFFF60u;
    VoiceCodecState enc;
    HI_VOICE_EncReset(&enc, VOICE_G711_U);
    Bytes talk = TalkPacket(enc, Tone(160));
    ASSERT_EQ(talk.size(), 166u);

    struct Expected {
        uint16_t sequence;
        uint32_t timestamp;
        bool marker;
    };
    const Expected expected[] = {{65535, 0xFFFFFF60u, true}, {0, 0, false}, {1, 160, true}};
    for (int i = 0; i < 3; ++i) {
        if (i == 2)
            Orvo_RtpSenderStartSpurt(&s);
        uint8_t rtp[ORVO_RTP_PACKET_MAX];
        ASSERT_EQ(Orvo_RtpFromTalkPacket(&s, talk.data(), 166, rtp, sizeof rtp), 12 + 160);
        OrvoRtpHeader h{};
        ASSERT_EQ(Orvo_RtpParse(rtp, 172, &h), ORVO_RTP_OK);
        EXPECT_EQ(rtp[0], 0x80); // V=2, no padding, extension or CSRC
        EXPECT_EQ(h.sequence, expected[i].sequence);
        EXPECT_EQ(h.timestamp, expected[i].timestamp);
        EXPECT_EQ(h.marker, expected[i].marker ? 1 : 0);
        EXPECT_EQ(h.ssrc, 0x11223344u);
        EXPECT_EQ(h.payload_type, 0);
        EXPECT_EQ(0, std::memcmp(rtp + 12, talk.data() + 6, 160)); // PCMU: the codes as they are
    }
    EXPECT_EQ(s.packets_sent, 3u);
    EXPECT_EQ(s.octets_sent, 480u);
}

TEST(RtpSender, RandomStartPerSession)
{
    OrvoRtpSender a, b;
    ASSERT_EQ(Orvo_RtpSenderInit(&a, VOICE_G711_A, ORVO_RTP_PT_AUTO, 0), 0);
    ASSERT_EQ(Orvo_RtpSenderInit(&b, VOICE_G711_A, ORVO_RTP_PT_AUTO, 0), 0);
    EXPECT_EQ(a.payload_type, 8);
    EXPECT_NE(a.ssrc, b.ssrc); // 32 random bits each
    EXPECT_FALSE(a.sequence == b.sequence && a.timestamp == b.timestamp);
}

TEST(RtpSender, RefusalsLeaveSenderAndBufferUntouched)
{
    OrvoRtpSender s;
    EXPECT_EQ(Orvo_RtpSenderInit(nullptr, VOICE_G711_U, 0, 0), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_RtpSenderInit(&s, VOICE_ADPCM_IMA, 96, 0), ORVO_RTP_ERR_CODEC);
    EXPECT_EQ(Orvo_RtpSenderInit(&s, 8, 96, 0), ORVO_RTP_ERR_CODEC);
    EXPECT_EQ(Orvo_RtpSenderInit(&s, VOICE_G711_U, 128, 0), ORVO_RTP_ERR_ARGUMENT);
    ASSERT_EQ(Orvo_RtpSenderInit(&s, VOICE_G711_U, 0, 7), 0);
    VoiceCodecState enc;
    HI_VOICE_EncReset(&enc, VOICE_G711_U);
    const Bytes good = TalkPacket(enc, Tone(160));
    Bytes badHeader = good;
    badHeader[1] = 0x07;
    Bytes badMarker = good;
    badMarker[3] = 0x02;
    Bytes cut(good.begin(), good.end() - 1);
    Bytes trailing = good;
    trailing.push_back(0);
    struct Case {
        const char *name;
        Bytes talk;
        int32_t capacity;
        int32_t status;
    };
    const Case cases[] = {
        {"talk header", badHeader, 512, ORVO_RTP_ERR_CODEC},
        {"frame marker", badMarker, 512, ORVO_RTP_ERR_CODEC},
        {"cut short", cut, 512, ORVO_RTP_ERR_CODEC},
        {"trailing byte", trailing, 512, ORVO_RTP_ERR_CODEC},
        {"header only", Bytes(good.begin(), good.begin() + 5), 512, ORVO_RTP_ERR_CODEC},
        {"capacity", good, 171, ORVO_RTP_ERR_CAPACITY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OrvoRtpSender before = s;
        Bytes out(512, 0xEE);
        EXPECT_EQ(Orvo_RtpFromTalkPacket(&s, c.talk.data(), static_cast<int32_t>(c.talk.size()),
                                         out.data(), c.capacity),
                  c.status);
        EXPECT_EQ(0, std::memcmp(&before, &s, sizeof s));
        EXPECT_EQ(out, Bytes(512, 0xEE));
    }
    EXPECT_EQ(Orvo_RtpFromTalkPacket(&s, nullptr, 166, nullptr, 0), ORVO_RTP_ERR_ARGUMENT);
}

// RFC 3551 DVI4: 16-bit predictor in network order, step index, reserved zero, then the codes,
// first sample in the high nibble. The codec's worked example: after a reset, eight samples of
// 1000 code as 77 77 75 08 and leave predictor 1001, step index 42, which the next block's header
// carries: 1001 = 0x03E9, so 03 E9 2A 00 on the wire (E9 03 2A 00 in the codec's frame).
TEST(RtpDvi4, LayoutAgainstHandComputedBytes)
{
    VoiceCodecState enc;
    HI_VOICE_EncReset(&enc, VOICE_ADPCM_DVI4);
    const std::vector<int16_t> block(8, 1000);
    Bytes first = TalkPacket(enc, block);
    Bytes second = TalkPacket(enc, block);
    ASSERT_EQ(first, (Bytes{0x80, 0x06, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x77, 0x77,
                            0x75, 0x08}));
    ASSERT_EQ(Bytes(second.begin() + 6, second.begin() + 10), (Bytes{0xE9, 0x03, 0x2A, 0x00}));

    OrvoRtpSender s;
    ASSERT_EQ(Orvo_RtpSenderInit(&s, VOICE_ADPCM_DVI4, ORVO_RTP_PT_AUTO, 1), 0);
    EXPECT_EQ(s.payload_type, ORVO_RTP_PT_DVI4);
    uint8_t rtp[ORVO_RTP_PACKET_MAX];
    ASSERT_EQ(Orvo_RtpFromTalkPacket(&s, first.data(), 14, rtp, sizeof rtp), 20);
    EXPECT_EQ(Bytes(rtp + 12, rtp + 20), (Bytes{0x00, 0x00, 0x00, 0x00, 0x77, 0x77, 0x75, 0x08}));
    uint32_t firstTimestamp = s.timestamp - 8;
    ASSERT_EQ(Orvo_RtpFromTalkPacket(&s, second.data(), 14, rtp, sizeof rtp), 20);
    EXPECT_EQ(Bytes(rtp + 12, rtp + 16), (Bytes{0x03, 0xE9, 0x2A, 0x00}));
    EXPECT_EQ(0, std::memcmp(rtp + 16, second.data() + 10, 4)); // codes unchanged
    OrvoRtpHeader h{};
    ASSERT_EQ(Orvo_RtpParse(rtp, 20, &h), ORVO_RTP_OK);
    EXPECT_EQ(h.timestamp, firstTimestamp + 8); // eight samples per block

    // Receiving: the wire layout becomes the frame layout; a reserved byte that is not zero is
    // ignored.
    const uint8_t wire[] = {0x03, 0xE9, 0x2A, 0x7F, 0x77, 0x77, 0x75, 0x08};
    uint8_t frame[8];
    ASSERT_EQ(rtp::RtpPayloadToFrame(VOICE_ADPCM_DVI4, wire, 8, frame, 8), 8);
    EXPECT_EQ(Bytes(frame, frame + 8), (Bytes{0xE9, 0x03, 0x2A, 0x00, 0x77, 0x77, 0x75, 0x08}));

    // And the wire bytes of the first block decode to the codec's worked example.
    const uint8_t firstWire[] = {0x00, 0x00, 0x00, 0x00, 0x77, 0x77, 0x75, 0x08};
    uint8_t decodable[12] = {0x00, 0x01, 0x04, 0x00};
    ASSERT_EQ(rtp::RtpPayloadToFrame(VOICE_ADPCM_DVI4, firstWire, 8, decodable + 4, 8), 8);
    VoiceCodecState dec;
    HI_VOICE_DecReset(&dec, VOICE_ADPCM_DVI4);
    int16_t out[HI_VOICE_MAX_SAMPLES];
    int16_t n = 0;
    ASSERT_EQ(HI_VOICE_DecodeFrame(&dec, decodable, out, &n), 0);
    EXPECT_EQ(std::vector<int16_t>(out, out + n),
              (std::vector<int16_t>{11, 41, 104, 240, 533, 996, 1057, 1001}));
}

// Payload lengths the receive path takes, per codec: G.711 and G.726 any whole number of codes up
// to 2048 bytes (long ones are cut into frames later), DVI4 one block of up to 320 samples.
TEST(RtpPayload, ReceivableLengthsPerCodec)
{
    struct Case {
        int16_t type;
        std::vector<int32_t> taken;
        std::vector<int32_t> refused;
    };
    const Case cases[] = {
        {VOICE_G711_U, {80, 160, 240, 320, 1, 79, 100, 162, 400, 480, 1024, 2048}, {0, 2049, 65000}},
        {VOICE_G711_A, {80, 81, 400}, {0, 4000}},
        {VOICE_ADPCM_DVI4, {6, 84, 164}, {0, 4, 5, 85, 166, 170, 1024}},
        {VOICE_G726_16K, {20, 40, 60, 80, 1, 10, 30, 100, 2047}, {0, 2049}},
        {VOICE_G726_24K_MSB, {30, 60, 90, 120, 3, 15, 45, 150, 2046}, {1, 2, 31, 2048}},
        {VOICE_G726_32K, {40, 80, 120, 160, 1, 20, 60, 200, 1024}, {0, 2050}},
        {VOICE_G726_40K_MSB, {50, 100, 150, 200, 5, 25, 75, 250, 2045}, {4, 51, 2049}},
    };
    std::vector<uint8_t> payload(65000, 0);
    std::vector<uint8_t> frame(rtp::kMaxReceivedPayload);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        for (int32_t n : c.taken)
            EXPECT_EQ(rtp::RtpPayloadToFrame(c.type, payload.data(), n, frame.data(),
                                             rtp::kMaxReceivedPayload), n) << n;
        for (int32_t n : c.refused)
            EXPECT_EQ(rtp::RtpPayloadToFrame(c.type, payload.data(), n, frame.data(),
                                             rtp::kMaxReceivedPayload), -1) << n;
    }
}

// The worked example of the codec's bit orders: 4-bit codes 1, 10, 7, 12 are A1 C7 packed from the
// least significant bit and 1A 7C from the most significant.
TEST(RtpG726, SendPackingOverrideRepacksTheCodes)
{
    Bytes talk = {0x80, 0x06, 0x00, 0x01, 40, 0x00};
    for (int i = 0; i < 40; ++i) {
        talk.push_back(0xA1);
        talk.push_back(0xC7);
    }
    OrvoRtpSender s;
    ASSERT_EQ(Orvo_RtpSenderInit(&s, VOICE_G726_32K, 97, 1), 0);
    uint8_t rtp[ORVO_RTP_PACKET_MAX];
    struct Case {
        int32_t packing;
        uint8_t first, second;
    };
    const Case cases[] = {{ORVO_RTP_G726_AS_ANNOUNCED, 0xA1, 0xC7},
                          {ORVO_RTP_G726_FORCE_MSB, 0x1A, 0x7C},
                          {ORVO_RTP_G726_FORCE_LSB, 0xA1, 0xC7}};
    for (const Case &c : cases) {
        ASSERT_EQ(Orvo_SetRtpG726Packing(ORVO_AUDIO_CAPTURE, c.packing), 0);
        ASSERT_EQ(Orvo_RtpFromTalkPacket(&s, talk.data(), static_cast<int32_t>(talk.size()), rtp,
                                         sizeof rtp),
                  92);
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(rtp[12 + 2 * i], c.first);
            ASSERT_EQ(rtp[13 + 2 * i], c.second);
        }
    }
    EXPECT_EQ(Orvo_SetRtpG726Packing(ORVO_AUDIO_CAPTURE, 3), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SetRtpG726Packing(2, ORVO_RTP_G726_FORCE_LSB), ORVO_RTP_ERR_ARGUMENT);
    rtp::ResetPayloadTable();
}

TEST(RtpNames, CodecNamesAndPayloadTypes)
{
    struct Case {
        int16_t type;
        const char *name;
        int32_t defaultPt;
    };
    const Case cases[] = {
        {VOICE_G711_U, "PCMU", 0},           {VOICE_G711_A, "PCMA", 8},
        {VOICE_ADPCM_DVI4, "DVI4", 5},       {VOICE_G726_16K, "G726-16", 96},
        {VOICE_G726_24K, "G726-24", 97},     {VOICE_G726_32K, "G726-32", 98},
        {VOICE_G726_40K, "G726-40", 99},     {VOICE_G726_16K_MSB, "AAL2-G726-16", 100},
        {VOICE_G726_24K_MSB, "AAL2-G726-24", 101}, {VOICE_G726_32K_MSB, "AAL2-G726-32", 102},
        {VOICE_G726_40K_MSB, "AAL2-G726-40", 103},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(Orvo_RtpNameOfVoiceType(c.type), nullptr);
        EXPECT_STREQ(Orvo_RtpNameOfVoiceType(c.type), c.name);
        EXPECT_EQ(Orvo_RtpVoiceTypeFromName(c.name), c.type);
        std::string lower(c.name);
        for (char &ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(Orvo_RtpVoiceTypeFromName(lower.c_str()), c.type);
        EXPECT_EQ(Orvo_RtpDefaultPayloadType(c.type), c.defaultPt);
    }
    EXPECT_EQ(Orvo_RtpNameOfVoiceType(VOICE_ADPCM_IMA), nullptr);
    EXPECT_EQ(Orvo_RtpNameOfVoiceType(0), nullptr);
    EXPECT_EQ(Orvo_RtpVoiceTypeFromName("G726"), 0);
    EXPECT_EQ(Orvo_RtpVoiceTypeFromName("PCMU "), 0);
    EXPECT_EQ(Orvo_RtpVoiceTypeFromName(""), 0);
    EXPECT_EQ(Orvo_RtpVoiceTypeFromName(nullptr), 0);
    EXPECT_EQ(Orvo_RtpDefaultPayloadType(VOICE_ADPCM_IMA), -1);

    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(0), VOICE_G711_U);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(8), VOICE_G711_A);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(5), VOICE_ADPCM_DVI4);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(97), 0);
    EXPECT_EQ(Orvo_SetRtpPayloadType(97, VOICE_G726_24K), 0);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(97), VOICE_G726_24K);
    EXPECT_EQ(Orvo_SetRtpPayloadType(97, 0), 0);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(97), 0);
    EXPECT_EQ(Orvo_SetRtpPayloadType(0, VOICE_G711_A), ORVO_RTP_ERR_ARGUMENT); // static: fixed
    EXPECT_EQ(Orvo_SetRtpPayloadType(95, VOICE_G711_A), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SetRtpPayloadType(128, VOICE_G711_A), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SetRtpPayloadType(100, VOICE_ADPCM_IMA), ORVO_RTP_ERR_CODEC);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(-1), 0);
    EXPECT_EQ(Orvo_RtpVoiceTypeOfPayloadType(200), 0);
    for (int32_t status = 1; status >= -13; --status)
        EXPECT_NE(Orvo_RtpStatusText(status), nullptr);
    EXPECT_STREQ(Orvo_RtpStatusText(ORVO_RTP_ERR_VERSION), "not RTP version 2");
}

// The G.711 conversions follow the code tables: A-law row 0x00..0x0F and 0xD0..0xDF of the
// A-law to mu-law table, and mu-law -> A-law -> mu-law keeps every code's sign and decoded size
// close.
TEST(G711Conversion, TablesAndArguments)
{
    Bytes alaw(256);
    for (int i = 0; i < 256; ++i)
        alaw[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    Bytes mulaw(256);
    ASSERT_EQ(Orvo_G711ALawToMuLaw(alaw.data(), mulaw.data(), 256), 0);
    EXPECT_EQ(Bytes(mulaw.begin(), mulaw.begin() + 16),
              (Bytes{0x2A, 0x2B, 0x28, 0x29, 0x2E, 0x2F, 0x2C, 0x2D, 0x22, 0x23, 0x20, 0x21, 0x26,
                     0x27, 0x24, 0x25}));
    EXPECT_EQ(Bytes(mulaw.begin() + 0xD0, mulaw.begin() + 0xE0),
              (Bytes{0xF4, 0xF6, 0xF0, 0xF2, 0xFC, 0xFE, 0xF8, 0xFA, 0xEA, 0xEB, 0xE8, 0xE9, 0xEE,
                     0xEF, 0xEC, 0xED}));
    // In place, and over more than one internal chunk.
    Bytes many(1000);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<uint8_t>(i * 7);
    Bytes copy = many;
    ASSERT_EQ(Orvo_G711MuLawToALaw(many.data(), many.data(), 1000), 0);
    Bytes back(1000);
    ASSERT_EQ(Orvo_G711ALawToMuLaw(many.data(), back.data(), 1000), 0);
    for (size_t i = 0; i < many.size(); ++i) {
        uint8_t one;
        ASSERT_EQ(Orvo_G711MuLawToALaw(&copy[i], &one, 1), 0);
        EXPECT_EQ(one, many[i]);
        EXPECT_EQ(back[i] & 0x80, copy[i] & 0x80) << i; // the sign survives the round trip
    }
    EXPECT_EQ(Orvo_G711MuLawToALaw(nullptr, back.data(), 1), -1);
    EXPECT_EQ(Orvo_G711ALawToMuLaw(back.data(), nullptr, 1), -1);
    EXPECT_EQ(Orvo_G711ALawToMuLaw(back.data(), back.data(), -1), -1);
    EXPECT_EQ(Orvo_G711ALawToMuLaw(nullptr, nullptr, 0), 0);
}

// ---- SDP

TEST(Sdp, WriteThenReadEveryCodec)
{
    const int16_t types[] = {VOICE_G711_U, VOICE_G711_A, VOICE_ADPCM_DVI4, VOICE_G726_16K,
                             VOICE_G726_24K, VOICE_G726_32K, VOICE_G726_40K, VOICE_G726_16K_MSB,
                             VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};
    for (int16_t type : types) {
        SCOPED_TRACE(type);
        int32_t pt = Orvo_RtpDefaultPayloadType(type);
        char text[1024];
        int32_t n = Orvo_SdpWriteSession(text, sizeof text, "127.0.0.1", 5004, pt, type, 20,
                                         ORVO_SDP_SENDONLY);
        ASSERT_GT(n, 0);
        ASSERT_EQ(static_cast<size_t>(n), std::strlen(text));
        EXPECT_NE(std::strstr(text, "v=0\r\n"), nullptr);
        EXPECT_NE(std::strstr(text, "a=sendonly\r\n"), nullptr);
        OrvoSdpMedia media[2];
        ASSERT_EQ(Orvo_SdpRead(text, n, media, 2), 1);
        EXPECT_STREQ(media[0].media, "audio");
        EXPECT_STREQ(media[0].protocol, "RTP/AVP");
        EXPECT_EQ(media[0].port, 5004);
        ASSERT_EQ(media[0].payload_count, 1);
        EXPECT_EQ(media[0].payload_types[0], pt);
        EXPECT_STREQ(media[0].encoding[0], Orvo_RtpNameOfVoiceType(type));
        EXPECT_EQ(media[0].clock_rate[0], 8000);
        EXPECT_EQ(media[0].channels[0], 1);
        EXPECT_EQ(media[0].voice_type[0], type);
        EXPECT_EQ(media[0].ptime_ms, 20);
        EXPECT_EQ(media[0].direction, ORVO_SDP_SENDONLY);
        EXPECT_STREQ(media[0].address, "127.0.0.1");

        char fragment[256];
        n = Orvo_SdpWriteAudio(fragment, sizeof fragment, "::1", 0, pt, type, 0);
        ASSERT_GT(n, 0);
        EXPECT_NE(std::strstr(fragment, "c=IN IP6 ::1\r\n"), nullptr);
        EXPECT_EQ(std::strstr(fragment, "a=ptime"), nullptr);
        ASSERT_EQ(Orvo_SdpRead(fragment, n, media, 2), 1);
        EXPECT_EQ(media[0].voice_type[0], type);
        EXPECT_STREQ(media[0].address, "::1");
    }
}

TEST(Sdp, WriterRefusals)
{
    char out[64];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 20, "127.0.0.1", 5004, 0, VOICE_G711_U, 20), ORVO_RTP_ERR_CAPACITY);
    EXPECT_EQ(out[0], 'x'); // nothing written
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 64, "127.0.0.1", 70000, 0, VOICE_G711_U, 20), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 64, "127.0.0.1", 5004, 128, VOICE_G711_U, 20), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 64, "", 5004, 0, VOICE_G711_U, 20), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 64, "a\r\nm=video", 5004, 0, VOICE_G711_U, 20), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 64, nullptr, 5004, 0, VOICE_G711_U, 20), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpWriteAudio(out, 64, "127.0.0.1", 5004, 0, VOICE_ADPCM_IMA, 20), ORVO_RTP_ERR_CODEC);
    EXPECT_EQ(Orvo_SdpWriteSession(out, 64, "127.0.0.1", 5004, 0, VOICE_G711_U, 20, 4), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(out[0], 'x');
}

// A camera's answer to DESCRIBE with a video track, its audio track and an audio back channel:
// LF and CRLF mixed, session-level control and direction, static formats without rtpmap, a
// format list longer than the room, and lines that are no SDP at all.
TEST(Sdp, ReadsAMultiMediaCameraDescription)
{
    std::string formats = "m=audio 0 RTP/AVP";
    for (int pt = 96; pt < 116; ++pt)
        formats += " " + std::to_string(pt);
    const std::string sdp =
        "v=0\r\n"
        "o=- 1234 1 IN IP4 192.168.1.64\r\n"
        "s=Media Presentation\r\n"
        "c=IN IP4 0.0.0.0\n"
        "t=0 0\r\n"
        "a=control:rtsp://192.168.1.64/onvif/\r\n"
        "a=recvonly\r\n"
        "garbage without equals\r\n"
        "\r\n"
        "m=video 0 RTP/AVP 96\r\n"
        "a=rtpmap:96 H264/90000\r\n"
        "a=control:trackID=1\r\n"
        "m=audio 0 RTP/AVP 0 8\r\n"
        "c=IN IP4 239.1.1.1/127\r\n"
        "a=control:trackID=2\r\n"
        "a=ptime:40\n"
        "m=audio 0 RTP/AVP 97 0\r\n"
        "a=rtpmap:97 G726-32/8000\r\n"
        "a=rtpmap:98 AAL2-G726-32/8000\r\n"
        "a=sendonly\r\n"
        "a=control:trackID=3\r\n" +
        formats + "\r\n"
                  "a=rtpmap:97 L16/16000/2\r\n";
    OrvoSdpMedia media[8];
    ASSERT_EQ(Orvo_SdpRead(sdp.data(), static_cast<int32_t>(sdp.size()), media, 8), 4);

    EXPECT_STREQ(media[0].media, "video");
    EXPECT_EQ(media[0].voice_type[0], 0);
    EXPECT_STREQ(media[0].encoding[0], "H264");
    EXPECT_EQ(media[0].clock_rate[0], 90000);
    EXPECT_STREQ(media[0].control, "trackID=1");
    EXPECT_STREQ(media[0].session_control, "rtsp://192.168.1.64/onvif/");
    EXPECT_EQ(media[0].direction, ORVO_SDP_RECVONLY); // the session's

    EXPECT_STREQ(media[1].media, "audio");
    ASSERT_EQ(media[1].payload_count, 2);
    EXPECT_STREQ(media[1].encoding[0], "PCMU");
    EXPECT_EQ(media[1].voice_type[0], VOICE_G711_U);
    EXPECT_EQ(media[1].voice_type[1], VOICE_G711_A);
    EXPECT_EQ(media[1].ptime_ms, 40);
    EXPECT_STREQ(media[1].address, "239.1.1.1");

    ASSERT_EQ(media[2].payload_count, 2);
    EXPECT_EQ(media[2].payload_types[0], 97);
    EXPECT_EQ(media[2].voice_type[0], VOICE_G726_32K);
    EXPECT_EQ(media[2].voice_type[1], VOICE_G711_U);
    EXPECT_EQ(media[2].direction, ORVO_SDP_SENDONLY);
    EXPECT_STREQ(media[2].control, "trackID=3");
    EXPECT_STREQ(media[2].address, "0.0.0.0");

    EXPECT_EQ(media[3].payload_count, ORVO_SDP_MAX_FORMATS);
    EXPECT_EQ(media[3].payload_types[15], 111);
    EXPECT_STREQ(media[3].encoding[1], "L16");
    EXPECT_EQ(media[3].clock_rate[1], 16000);
    EXPECT_EQ(media[3].channels[1], 2);
    EXPECT_EQ(media[3].voice_type[1], 0); // not 8000 Hz mono
    EXPECT_STREQ(media[3].encoding[0], "");

    // Fewer entries than m= lines: the first ones are filled.
    ASSERT_EQ(Orvo_SdpRead(sdp.data(), static_cast<int32_t>(sdp.size()), media, 1), 1);
    EXPECT_STREQ(media[0].media, "video");
    EXPECT_EQ(Orvo_SdpRead(sdp.data(), static_cast<int32_t>(sdp.size()), nullptr, 0), 0);
}

TEST(Sdp, ReaderRefusalsAndLongFields)
{
    OrvoSdpMedia media[1];
    EXPECT_EQ(Orvo_SdpRead("v=0\r\ns=x\r\n", 10, media, 1), ORVO_RTP_ERR_SDP);
    EXPECT_EQ(Orvo_SdpRead("", 0, media, 1), ORVO_RTP_ERR_SDP);
    EXPECT_EQ(Orvo_SdpRead(nullptr, 3, media, 1), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpRead("m=audio", 7, nullptr, 1), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_SdpRead("m=audio", -1, media, 1), ORVO_RTP_ERR_ARGUMENT);
    // Fields longer than their room are cut; huge numbers are clamped; the length given bounds the
    // read (the last case stops before its a=ptime line).
    std::string longControl = "m=audio 99999999999999 RTP/AVP 0\r\na=control:" + std::string(1000, 'c') +
                              "\r\na=rtpmap:0 " + std::string(100, 'N') + "/8000\r\n";
    ASSERT_EQ(Orvo_SdpRead(longControl.data(), static_cast<int32_t>(longControl.size()), media, 1), 1);
    EXPECT_EQ(std::strlen(media[0].control), ORVO_SDP_CONTROL_MAX - 1u);
    EXPECT_EQ(std::strlen(media[0].encoding[0]), ORVO_SDP_NAME_MAX - 1u);
    EXPECT_EQ(media[0].voice_type[0], 0);
    EXPECT_GT(media[0].port, 65535); // reported as read; the caller judges it
    const std::string cut = "m=audio 5004 RTP/AVP 0\r\na=ptime:20";
    ASSERT_EQ(Orvo_SdpRead(cut.data(), 22, media, 1), 1);
    EXPECT_EQ(media[0].ptime_ms, 0);
    EXPECT_EQ(media[0].voice_type[0], VOICE_G711_U);
}

} // namespace
} // namespace orvo::talk
