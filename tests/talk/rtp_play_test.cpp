// The talk codec and the RTP receive path through the exports, on the virtual devices and clock:
// every codec from capture into talk packets bit-exact, every codec through RTP into the playback
// bit-exact, ordering by sequence number, every refusal reason counted and never played, and the
// default 166-byte talk packet unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/talk_service.h"
#include "tests/talk/play_test_support.h"

namespace orvo::talk {
namespace {

namespace virt = platform::virt;
using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;
using testing::FramePayload;
using testing::PlayedFrameIds;
using testing::TalkPacketFor;

constexpr int64_t kPacketMs = 20;
constexpr int kBlock = 160;
// Up to ten frames arriving one per 20 ms are each played once: the repeat rule first repeats
// the eleventh.
constexpr int kFrames = 10;

const int16_t kTalkCodecs[] = {VOICE_G711_A,       VOICE_G711_U,       VOICE_ADPCM_DVI4,
                               VOICE_G726_16K,     VOICE_G726_24K,     VOICE_G726_32K,
                               VOICE_G726_40K,     VOICE_G726_16K_MSB, VOICE_G726_24K_MSB,
                               VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};

int16_t Speechlike(uint64_t index)
{
    // Two tones and a slow envelope: every code width gets used, nothing clips.
    int64_t i = static_cast<int64_t>(index);
    int64_t a = (i * 523) % 8000 - 4000;
    int64_t b = (i * 1871) % 3000 - 1500;
    int64_t envelope = 4 + (i / 400) % 5;
    return static_cast<int16_t>((a + b) * envelope);
}

Samples Signal(int first, int count)
{
    Samples s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        s[static_cast<size_t>(i)] = Speechlike(static_cast<uint64_t>(first + i));
    return s;
}

// Talk packets of `frames` consecutive 160-sample blocks from one encoder of `type`.
std::vector<Bytes> EncodeTalkPackets(int16_t type, int frames)
{
    VoiceCodecState enc;
    EXPECT_EQ(HI_VOICE_EncReset(&enc, type), 0);
    std::vector<Bytes> packets;
    for (int f = 0; f < frames; ++f) {
        Samples block = Signal(f * kBlock, kBlock);
        uint8_t frame[484];
        EXPECT_EQ(HI_VOICE_EncodeFrame(&enc, block.data(), frame, kBlock), 0);
        size_t frameBytes = 4 + 2 * static_cast<size_t>(frame[2]);
        Bytes packet(2 + frameBytes);
        packet[0] = 0x80;
        packet[1] = 0x06;
        std::memcpy(packet.data() + 2, frame, frameBytes);
        packets.push_back(packet);
    }
    return packets;
}

// What one decoder of `type` makes of the packets, frame after frame.
std::vector<Samples> DecodeTalkPackets(int16_t type, const std::vector<Bytes> &packets)
{
    VoiceCodecState dec;
    EXPECT_EQ(HI_VOICE_DecReset(&dec, type), 0);
    std::vector<Samples> out;
    for (const Bytes &p : packets) {
        Bytes frame(p.begin() + 2, p.end());
        int16_t samples[HI_VOICE_MAX_SAMPLES];
        int16_t n = 0;
        EXPECT_EQ(HI_VOICE_DecodeFrame(&dec, frame.data(), samples, &n), 0);
        out.emplace_back(samples, samples + n);
    }
    return out;
}

std::vector<Samples> PlayedSamples()
{
    std::vector<Samples> blocks;
    for (const virt::PlayedBlock &b : virt::PlayedBlocks())
        blocks.push_back(b.samples);
    return blocks;
}

Bytes RtpPacket(uint8_t pt, uint16_t sequence, uint32_t ssrc, const Bytes &payload, uint8_t flags = 0)
{
    Bytes p = {static_cast<uint8_t>(0x80 | flags), pt, static_cast<uint8_t>(sequence >> 8),
               static_cast<uint8_t>(sequence), 0, 0, static_cast<uint8_t>(sequence >> 8),
               static_cast<uint8_t>(sequence), static_cast<uint8_t>(ssrc >> 24),
               static_cast<uint8_t>(ssrc >> 16), static_cast<uint8_t>(ssrc >> 8),
               static_cast<uint8_t>(ssrc)};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

int32_t InputRtp(const Bytes &packet)
{
    static const uint8_t kNothing = 0;
    return Orvo_InputRtpData(packet.empty() ? &kNothing : packet.data(),
                             static_cast<int32_t>(packet.size()));
}

OrvoRtpStats RtpStats()
{
    OrvoRtpStats s{};
    s.size = sizeof s;
    EXPECT_EQ(Orvo_GetRtpStats(&s), 0);
    return s;
}

class RtpPlayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShutdownTalkService();
        virt::Reset();
        virt::SetCaptureSource(Speechlike);
    }
    void TearDown() override
    {
        ShutdownTalkService();
        virt::Reset();
    }
    static void Start(bool play)
    {
        ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
        ASSERT_EQ(Orvo_OpenTalk(), 0);
        if (play) {
            ASSERT_EQ(Orvo_StartAudioPlay(), 0);
        }
        ASSERT_TRUE(virt::WaitIdle());
    }
    static std::vector<Bytes> Drain()
    {
        std::vector<Bytes> packets;
        unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
        int32_t n;
        while ((n = Orvo_GetAudioTalkData(buffer)) > 0)
            packets.emplace_back(buffer, buffer + n);
        return packets;
    }
};

TEST_F(RtpPlayTest, DefaultTalkPacketIsUnchanged)
{
    EXPECT_EQ(Orvo_GetTalkCodec(ORVO_AUDIO_CAPTURE), VOICE_G711_U);
    EXPECT_EQ(Orvo_GetTalkCodec(ORVO_AUDIO_PLAYBACK), VOICE_G711_U);
    Start(false);
    ASSERT_TRUE(virt::Advance(1000));
    std::vector<Bytes> packets = Drain();
    ASSERT_EQ(packets.size(), 14u);
    std::vector<Bytes> expected = EncodeTalkPackets(VOICE_G711_U, 14);
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i].size(), 166u);
        EXPECT_EQ(Bytes(packets[i].begin(), packets[i].begin() + 6),
                  (Bytes{0x80, 0x06, 0x00, 0x01, 0x50, 0x00}));
        EXPECT_EQ(packets[i], expected[i]) << i;
    }
}

TEST_F(RtpPlayTest, TalkCodecChoiceAndRefusals)
{
    for (int16_t type : kTalkCodecs) {
        EXPECT_EQ(Orvo_SetTalkCodec(ORVO_AUDIO_CAPTURE, type), 0);
        EXPECT_EQ(Orvo_SetTalkCodec(ORVO_AUDIO_PLAYBACK, type), 0);
        EXPECT_EQ(Orvo_GetTalkCodec(ORVO_AUDIO_CAPTURE), type);
    }
    // IMA carries 4k + 1 samples: a 20 ms block would lose three samples per frame.
    const int16_t refused[] = {0, -1, VOICE_ADPCM_IMA, 8, 34, 40};
    for (int16_t type : refused)
        EXPECT_EQ(Orvo_SetTalkCodec(ORVO_AUDIO_CAPTURE, type), -1) << type;
    EXPECT_EQ(Orvo_SetTalkCodec(2, VOICE_G711_U), -1);
    EXPECT_EQ(Orvo_GetTalkCodec(2), -1);
    EXPECT_EQ(Orvo_GetTalkCodec(ORVO_AUDIO_CAPTURE), VOICE_G726_40K_MSB); // unchanged by refusals
    ShutdownTalkService(); // the teardown restores the default
    EXPECT_EQ(Orvo_GetTalkCodec(ORVO_AUDIO_CAPTURE), VOICE_G711_U);
    EXPECT_EQ(Orvo_GetTalkCodec(ORVO_AUDIO_PLAYBACK), VOICE_G711_U);
}

TEST_F(RtpPlayTest, CaptureEncodesEveryTalkCodecBitExact)
{
    for (int16_t type : kTalkCodecs) {
        SCOPED_TRACE(type);
        ShutdownTalkService();
        virt::Reset();
        virt::SetCaptureSource(Speechlike);
        ASSERT_EQ(Orvo_SetTalkCodec(ORVO_AUDIO_CAPTURE, type), 0);
        Start(false);
        ASSERT_TRUE(virt::Advance(1000));
        std::vector<Bytes> packets = Drain();
        ASSERT_EQ(packets.size(), 14u);
        EXPECT_EQ(packets, EncodeTalkPackets(type, 14));
    }
}

TEST_F(RtpPlayTest, PlaybackDecodesEveryTalkCodecBitExact)
{
    for (int16_t type : kTalkCodecs) {
        SCOPED_TRACE(type);
        ShutdownTalkService();
        virt::Reset();
        ASSERT_EQ(Orvo_SetTalkCodec(ORVO_AUDIO_PLAYBACK, type), 0);
        Start(true);
        std::vector<Bytes> packets = EncodeTalkPackets(type, kFrames);
        for (const Bytes &p : packets) {
            ASSERT_EQ(Orvo_InputTalkData(p.data(), static_cast<int32_t>(p.size())), 0);
            ASSERT_TRUE(virt::Advance(kPacketMs));
        }
        ASSERT_TRUE(virt::Advance(20 * kPacketMs));
        EXPECT_EQ(PlayedSamples(), DecodeTalkPackets(type, packets));
        OrvoTalkStats s{};
        ASSERT_EQ(Orvo_GetAudioTalkStats(&s), 0);
        EXPECT_EQ(s.packets_rejected, 0u);
    }
}

TEST_F(RtpPlayTest, PlaybackChecksFollowTheTalkCodecFrameSizes)
{
    ASSERT_EQ(Orvo_SetTalkCodec(ORVO_AUDIO_PLAYBACK, VOICE_G726_32K), 0);
    Start(true);
    // A mu-law-sized packet (160 payload bytes) is 320 samples of G.726-32: played; 100 bytes
    // (200 samples) are not a whole number of 10 ms steps: refused.
    Bytes ok = TalkPacketFor(Bytes(160, 0x11));
    Bytes bad = TalkPacketFor(Bytes(100, 0x11));
    ASSERT_EQ(Orvo_InputTalkData(ok.data(), static_cast<int32_t>(ok.size())), 0);
    ASSERT_EQ(Orvo_InputTalkData(bad.data(), static_cast<int32_t>(bad.size())), 0);
    ASSERT_TRUE(virt::Advance(10 * kPacketMs));
    OrvoTalkStats s{};
    ASSERT_EQ(Orvo_GetAudioTalkStats(&s), 0);
    EXPECT_EQ(s.packets_rejected, 1u);
    std::vector<Samples> played = PlayedSamples();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].size(), 320u);
}

TEST_F(RtpPlayTest, EveryCodecThroughRtpIntoThePlaybackBitExact)
{
    for (int16_t type : kTalkCodecs) {
        SCOPED_TRACE(Orvo_RtpNameOfVoiceType(type));
        ShutdownTalkService(); // clears the payload-type table too
        virt::Reset();
        Start(true);
        int32_t pt = Orvo_RtpDefaultPayloadType(type);
        if (pt >= ORVO_RTP_PT_DYNAMIC_FIRST) {
            ASSERT_EQ(Orvo_SetRtpPayloadType(pt, type), 0);
        }
        OrvoRtpSender sender;
        ASSERT_EQ(Orvo_RtpSenderInit(&sender, type, ORVO_RTP_PT_AUTO, 0), 0);
        std::vector<Bytes> packets = EncodeTalkPackets(type, kFrames);
        for (const Bytes &p : packets) {
            uint8_t rtp[ORVO_RTP_PACKET_MAX];
            int32_t n = Orvo_RtpFromTalkPacket(&sender, p.data(), static_cast<int32_t>(p.size()),
                                               rtp, sizeof rtp);
            ASSERT_EQ(n, 12 + static_cast<int32_t>(p.size()) - 6);
            ASSERT_EQ(Orvo_InputRtpData(rtp, n), 0);
            ASSERT_TRUE(virt::Advance(kPacketMs));
        }
        ASSERT_TRUE(virt::Advance(20 * kPacketMs));
        EXPECT_EQ(PlayedSamples(), DecodeTalkPackets(type, packets));
        OrvoRtpStats s = RtpStats();
        EXPECT_EQ(s.in_order, static_cast<uint32_t>(kFrames));
        EXPECT_EQ(s.lost, 0u);
        EXPECT_EQ(s.voice_type, type);
        EXPECT_EQ(s.ssrc, sender.ssrc);
    }
}

// While the queue is short every ninth frame is played twice. A codec with memory plays the
// repeat from the same state as the frame itself, so both plays are alike and the frames after
// them decode exactly as if the frame had been played once.
TEST_F(RtpPlayTest, RepeatedFramesOfACodecWithMemoryDecodeAlike)
{
    constexpr int kLongStream = 30;
    Start(true);
    ASSERT_EQ(Orvo_SetRtpPayloadType(99, VOICE_G726_40K), 0);
    OrvoRtpSender sender;
    ASSERT_EQ(Orvo_RtpSenderInit(&sender, VOICE_G726_40K, 99, 0), 0);
    std::vector<Bytes> packets = EncodeTalkPackets(VOICE_G726_40K, kLongStream);
    for (const Bytes &p : packets) {
        uint8_t rtp[ORVO_RTP_PACKET_MAX];
        int32_t n = Orvo_RtpFromTalkPacket(&sender, p.data(), static_cast<int32_t>(p.size()), rtp,
                                           sizeof rtp);
        ASSERT_EQ(Orvo_InputRtpData(rtp, n), 0);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    ASSERT_TRUE(virt::Advance(40 * kPacketMs));
    std::vector<Samples> once = DecodeTalkPackets(VOICE_G726_40K, packets);
    std::vector<Samples> expected;
    for (int id : testing::StretchedOrder(1, kLongStream))
        expected.push_back(once[static_cast<size_t>(id - 1)]);
    EXPECT_EQ(PlayedSamples(), expected);
}

// ffmpeg sends G.711 and G.726 in 1024-byte payloads (128 ms of G.711, 256 ms of G.726-32): they
// are cut into 20 ms frames and play as the stream they carry. Repeats of the stretch rule play a
// frame twice in a row, so consecutive equal blocks are merged before the comparison.
TEST_F(RtpPlayTest, LongPayloadsPlayCutInto20MsFrames)
{
    struct Case {
        int16_t type;
        int32_t payloadType;
    };
    const Case cases[] = {{VOICE_G711_U, 0}, {VOICE_G726_32K, 97}, {VOICE_G726_24K_MSB, 98}};
    constexpr int kStreamFrames = 40;
    constexpr size_t kPayloadBytes = 1020; // a multiple of 3: whole codes of G.726-24 too
    for (const Case &c : cases) {
        SCOPED_TRACE(Orvo_RtpNameOfVoiceType(c.type));
        ShutdownTalkService();
        virt::Reset();
        Start(true);
        if (c.payloadType >= ORVO_RTP_PT_DYNAMIC_FIRST) {
            ASSERT_EQ(Orvo_SetRtpPayloadType(c.payloadType, c.type), 0);
        }
        std::vector<Bytes> frames = EncodeTalkPackets(c.type, kStreamFrames);
        Bytes stream; // the codes of all frames, one after the other
        for (const Bytes &f : frames)
            stream.insert(stream.end(), f.begin() + 6, f.end());
        uint16_t sequence = 65530;
        for (size_t at = 0; at < stream.size(); at += kPayloadBytes) {
            Bytes payload(stream.begin() + static_cast<std::ptrdiff_t>(at),
                          stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + kPayloadBytes)));
            ASSERT_EQ(InputRtp(RtpPacket(static_cast<uint8_t>(c.payloadType), sequence++, 3, payload)), 0);
            ASSERT_TRUE(virt::Advance(static_cast<int64_t>(payload.size()) * 8 /
                                      (c.type == VOICE_G711_U ? 8 : (c.type == VOICE_G726_32K ? 4 : 3)) / 8));
        }
        ASSERT_TRUE(virt::Advance(80 * kPacketMs));
        std::vector<Samples> played = PlayedSamples();
        std::vector<Samples> merged;
        for (const Samples &block : played)
            if (merged.empty() || merged.back() != block)
                merged.push_back(block);
        EXPECT_EQ(merged, DecodeTalkPackets(c.type, frames));
        OrvoRtpStats s = RtpStats();
        EXPECT_EQ(s.refused_length, 0u);
        EXPECT_EQ(s.lost, 0u);
    }
}

TEST_F(RtpPlayTest, ReceivePackingOverrideDecodesWhatWasSent)
{
    Start(true);
    // The peer announces AAL2-G726-32 on payload type 98 but packs from the least significant bit.
    ASSERT_EQ(Orvo_SetRtpPayloadType(98, VOICE_G726_32K_MSB), 0);
    ASSERT_EQ(Orvo_SetRtpG726Packing(ORVO_AUDIO_PLAYBACK, ORVO_RTP_G726_FORCE_LSB), 0);
    OrvoRtpSender sender;
    ASSERT_EQ(Orvo_RtpSenderInit(&sender, VOICE_G726_32K, 98, 0), 0);
    std::vector<Bytes> packets = EncodeTalkPackets(VOICE_G726_32K, kFrames);
    for (const Bytes &p : packets) {
        uint8_t rtp[ORVO_RTP_PACKET_MAX];
        int32_t n = Orvo_RtpFromTalkPacket(&sender, p.data(), static_cast<int32_t>(p.size()), rtp,
                                           sizeof rtp);
        ASSERT_EQ(Orvo_InputRtpData(rtp, n), 0);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    ASSERT_TRUE(virt::Advance(20 * kPacketMs));
    EXPECT_EQ(PlayedSamples(), DecodeTalkPackets(VOICE_G726_32K, packets));
    EXPECT_EQ(RtpStats().voice_type, VOICE_G726_32K);
}

struct OrderCase {
    const char *name;
    std::vector<uint16_t> arrivals; // sequence numbers, one every 20 ms (a gap is given up after
                                    // 60 ms, before four later frames have come)
    std::vector<int> played;        // frame ids (id = sequence - base)
    uint32_t reordered, late, duplicates, lost;
};

TEST_F(RtpPlayTest, FramesPlayInSequenceOrderNotArrivalOrder)
{
    const uint16_t kBase = 65530; // the numbers wrap inside every case
    const std::vector<OrderCase> cases = {
        {"swaps", {1, 3, 2, 5, 4, 6, 8, 7, 9, 10}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 3, 0, 0, 0},
        {"duplicates", {1, 2, 2, 3, 4, 4, 5, 6, 1, 7}, {1, 2, 3, 4, 5, 6, 7}, 0, 0, 3, 0},
        {"a loss", {1, 2, 3, 4, 6, 7, 8, 9, 10}, {1, 2, 3, 4, 6, 7, 8, 9, 10}, 3, 0, 0, 1},
        {"a loss that arrives late", {1, 2, 4, 5, 6, 7, 3, 8}, {1, 2, 4, 5, 6, 7, 8}, 3, 1, 0, 1},
    };
    for (const OrderCase &c : cases) {
        SCOPED_TRACE(c.name);
        ShutdownTalkService();
        virt::Reset();
        Start(true);
        for (uint16_t id : c.arrivals) {
            uint16_t sequence = static_cast<uint16_t>(kBase + id);
            ASSERT_EQ(InputRtp(RtpPacket(ORVO_RTP_PT_PCMU, sequence, 0x5151, FramePayload(id))), 0);
            ASSERT_TRUE(virt::Advance(kPacketMs));
        }
        ASSERT_TRUE(virt::Advance(30 * kPacketMs));
        EXPECT_EQ(PlayedFrameIds(), c.played);
        OrvoRtpStats s = RtpStats();
        EXPECT_EQ(s.reordered, c.reordered);
        EXPECT_EQ(s.late, c.late);
        EXPECT_EQ(s.duplicates, c.duplicates);
        EXPECT_EQ(s.lost, c.lost);
        EXPECT_EQ(s.queued, s.in_order + s.reordered + s.late + s.duplicates + s.dropped_stream);
        EXPECT_EQ(s.waiting, 0);
        EXPECT_EQ(s.highest_sequence, static_cast<uint32_t>(kBase) + static_cast<uint32_t>(c.played.back()));
        OrvoTalkStats t{};
        ASSERT_EQ(Orvo_GetAudioTalkStats(&t), 0);
        EXPECT_EQ(t.packets_received, t.frames_played + t.packets_rejected +
                                          t.frames_dropped_overflow + static_cast<uint32_t>(t.queue_depth));
    }
}

// In adaptive playout the RTP frames reach its jitter buffer in sequence order (the receive path
// orders them, drops duplicates and late ones) with their arrival times; where a frame is missing
// it conceals instead of playing the next one early.
TEST_F(RtpPlayTest, AdaptivePlayoutPlaysRtpFramesInOrderAndConcealsLosses)
{
    const uint16_t kBase = 65530;
    struct Case {
        const char *name;
        std::vector<uint16_t> arrivals;
        std::vector<int> played;
        uint32_t reordered, late, duplicates, concealedAtLeast;
    };
    const std::vector<Case> cases = {
        {"swaps", {1, 3, 2, 5, 4, 6, 8, 7, 9, 10}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 3, 0, 0, 0},
        {"duplicates", {1, 2, 2, 3, 4, 4, 5, 6, 1, 7}, {1, 2, 3, 4, 5, 6, 7}, 0, 0, 3, 0},
        {"a loss", {1, 2, 3, 4, 6, 7, 8, 9, 10}, {1, 2, 3, 4, 6, 7, 8, 9, 10}, 3, 0, 0, 1},
        {"a loss that arrives late", {1, 2, 4, 5, 6, 7, 3, 8}, {1, 2, 4, 5, 6, 7, 8}, 3, 1, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ShutdownTalkService();
        virt::Reset();
        ASSERT_EQ(Orvo_SetPlayoutMode(ORVO_PLAYOUT_ADAPTIVE), 0);
        Start(true);
        for (uint16_t id : c.arrivals) {
            uint16_t sequence = static_cast<uint16_t>(kBase + id);
            ASSERT_EQ(InputRtp(RtpPacket(ORVO_RTP_PT_PCMU, sequence, 0x5151, FramePayload(id))), 0);
            ASSERT_TRUE(virt::Advance(kPacketMs));
        }
        ASSERT_TRUE(virt::Advance(30 * kPacketMs));
        std::vector<int> played;
        for (const virt::PlayedBlock &block : virt::PlayedBlocks()) {
            // A frame after concealment fades in from it: its second half names it. Concealment
            // in between is no frame of the stream.
            if (block.samples.size() < static_cast<size_t>(kBlock))
                continue;
            int id = testing::FrameIdOf(Samples(block.samples.end() - kBlock / 2, block.samples.end()));
            if (id > 0)
                played.push_back(id);
        }
        EXPECT_EQ(played, c.played);
        OrvoRtpStats r = RtpStats();
        EXPECT_EQ(r.reordered, c.reordered);
        EXPECT_EQ(r.late, c.late);
        EXPECT_EQ(r.duplicates, c.duplicates);
        OrvoPlayoutStats p{};
        p.size = sizeof(p);
        ASSERT_EQ(Orvo_GetPlayoutStats(&p), 0);
        EXPECT_GE(p.frames_concealed, c.concealedAtLeast);
        EXPECT_EQ(p.frames_received, static_cast<uint32_t>(c.played.size()));
        EXPECT_EQ(p.frames_received, p.frames_played + p.frames_dropped_quiet + p.frames_late +
                                         p.frames_duplicate + p.frames_flushed + p.frames_buffered);
    }
}

TEST_F(RtpPlayTest, SsrcAndCodecChangesPlayEachFrameWithItsOwnCodec)
{
    Start(true);
    std::vector<Bytes> mu = EncodeTalkPackets(VOICE_G711_U, 4);
    std::vector<Bytes> a = EncodeTalkPackets(VOICE_G711_A, 4);
    std::vector<Bytes> g726 = EncodeTalkPackets(VOICE_G726_24K, 2);
    ASSERT_EQ(Orvo_SetRtpPayloadType(111, VOICE_G726_24K), 0);
    std::vector<Samples> expected;
    uint16_t sequence = 100;
    for (int i = 0; i < 4; ++i) { // alternating codecs in one stream, then a new stream
        const Bytes &p = (i % 2 == 0) ? mu[static_cast<size_t>(i)] : a[static_cast<size_t>(i)];
        Bytes payload(p.begin() + 6, p.end());
        ASSERT_EQ(InputRtp(RtpPacket(i % 2 == 0 ? 0 : 8, sequence++, 1, payload)), 0);
        expected.push_back(DecodeTalkPackets(i % 2 == 0 ? VOICE_G711_U : VOICE_G711_A, {p})[0]);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    std::vector<Samples> g726Decoded = DecodeTalkPackets(VOICE_G726_24K, g726);
    for (size_t i = 0; i < g726.size(); ++i) {
        Bytes payload(g726[i].begin() + 6, g726[i].end());
        ASSERT_EQ(InputRtp(RtpPacket(111, static_cast<uint16_t>(9000 + i), 2, payload)), 0);
        expected.push_back(g726Decoded[i]);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    ASSERT_TRUE(virt::Advance(20 * kPacketMs));
    EXPECT_EQ(PlayedSamples(), expected);
    OrvoRtpStats s = RtpStats();
    EXPECT_EQ(s.ssrc_changes, 1u);
    EXPECT_EQ(s.codec_changes, 4u);
    EXPECT_EQ(s.ssrc, 2u);
    EXPECT_EQ(s.highest_sequence, 9001u);
}

struct RefusalCase {
    const char *name;
    Bytes packet;
    int32_t status;
    uint32_t OrvoRtpStats::*counter;
};

TEST_F(RtpPlayTest, EveryRefusalIsCountedAndNeverPlayed)
{
    EXPECT_EQ(Orvo_InputRtpData(nullptr, 0), ORVO_RTP_ERR_NOT_RUNNING);
    OrvoRtpStats early{};
    early.size = sizeof early;
    EXPECT_EQ(Orvo_GetRtpStats(&early), ORVO_RTP_ERR_NOT_RUNNING);
    Start(true);
    ASSERT_EQ(Orvo_SetRtpPayloadType(96, VOICE_G726_24K), 0);
    const Bytes pcmu(160, 0x00);
    Bytes wrongVersion = RtpPacket(0, 1, 7, pcmu);
    wrongVersion[0] = 0x40;
    Bytes badPadding = RtpPacket(0, 1, 7, pcmu, 0x20);
    badPadding.back() = 0;
    Bytes cutCsrc = RtpPacket(0, 1, 7, Bytes(8, 0), 0x0F);
    Bytes huge = RtpPacket(0, 1, 7, Bytes(65536 - 12, 0x00));
    Bytes longest = RtpPacket(0, 1, 7, Bytes(65535 - 12, 0x00));
    const std::vector<RefusalCase> cases = {
        {"five bytes", Bytes{0x80, 0, 0, 1, 0}, ORVO_RTP_ERR_SHORT, &OrvoRtpStats::refused_short},
        {"empty", Bytes{}, ORVO_RTP_ERR_SHORT, &OrvoRtpStats::refused_short},
        {"CSRC list cut", cutCsrc, ORVO_RTP_ERR_SHORT, &OrvoRtpStats::refused_short},
        {"version 1", wrongVersion, ORVO_RTP_ERR_VERSION, &OrvoRtpStats::refused_version},
        {"padding 0", badPadding, ORVO_RTP_ERR_PADDING, &OrvoRtpStats::refused_padding},
        {"unmapped dynamic type", RtpPacket(97, 1, 7, pcmu), ORVO_RTP_ERR_PAYLOAD_TYPE,
         &OrvoRtpStats::refused_payload_type},
        {"an RTCP sender report", RtpPacket(200, 1, 7, Bytes(16, 0)), ORVO_RTP_ERR_PAYLOAD_TYPE,
         &OrvoRtpStats::refused_payload_type},
        {"static type we do not code", RtpPacket(18, 1, 7, Bytes(20, 0)), ORVO_RTP_ERR_PAYLOAD_TYPE,
         &OrvoRtpStats::refused_payload_type},
        {"PCMU of 2049 samples", RtpPacket(0, 1, 7, Bytes(2049, 0)), ORVO_RTP_ERR_LENGTH,
         &OrvoRtpStats::refused_length},
        {"G726-24 not in whole codes", RtpPacket(96, 1, 7, Bytes(61, 0)), ORVO_RTP_ERR_LENGTH,
         &OrvoRtpStats::refused_length},
        {"no payload", RtpPacket(0, 1, 7, Bytes{}), ORVO_RTP_ERR_LENGTH, &OrvoRtpStats::refused_length},
        {"DVI4 header only", RtpPacket(5, 1, 7, Bytes(4, 0)), ORVO_RTP_ERR_LENGTH,
         &OrvoRtpStats::refused_length},
        {"DVI4 odd code bytes", RtpPacket(5, 1, 7, Bytes(85, 0)), ORVO_RTP_ERR_LENGTH,
         &OrvoRtpStats::refused_length},
        {"65535 bytes", longest, ORVO_RTP_ERR_LENGTH, &OrvoRtpStats::refused_length},
        {"64 KiB", huge, ORVO_RTP_ERR_OVERSIZE, &OrvoRtpStats::refused_oversize},
    };
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.name);
        OrvoRtpStats before = RtpStats();
        EXPECT_EQ(InputRtp(c.packet), c.status);
        OrvoRtpStats after = RtpStats();
        EXPECT_EQ(after.*(c.counter), before.*(c.counter) + 1);
        EXPECT_EQ(after.packets_in, before.packets_in + 1);
        EXPECT_EQ(after.queued, before.queued);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    EXPECT_EQ(Orvo_InputRtpData(nullptr, 10), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_InputRtpData(pcmu.data(), -1), ORVO_RTP_ERR_ARGUMENT);
    ASSERT_TRUE(virt::Advance(20 * kPacketMs));
    EXPECT_TRUE(virt::PlayedBlocks().empty());
    OrvoRtpStats s = RtpStats();
    EXPECT_EQ(s.refused_argument, 2u);
    EXPECT_EQ(s.packets_in, s.queued + s.refused_argument + s.refused_short + s.refused_version +
                                s.refused_padding + s.refused_payload_type + s.refused_length +
                                s.refused_oversize + s.refused_full);
    OrvoRtpStats small{};
    small.size = 4;
    EXPECT_EQ(Orvo_GetRtpStats(&small), ORVO_RTP_ERR_ARGUMENT);
    EXPECT_EQ(Orvo_GetRtpStats(nullptr), ORVO_RTP_ERR_ARGUMENT);
    // A caller that knows fewer fields gets only those.
    OrvoRtpStats partial;
    std::memset(&partial, 0xAB, sizeof partial);
    partial.size = 3 * sizeof(uint32_t);
    ASSERT_EQ(Orvo_GetRtpStats(&partial), 0);
    EXPECT_EQ(partial.packets_in, s.packets_in);
    EXPECT_EQ(partial.refused_argument, 0xABABABABu);
}

// Until playback runs 63 packets wait; then they are taken as the jitter queue has room (25
// frames), so a burst plays whole and in order instead of pushing its first frames out.
TEST_F(RtpPlayTest, SixtyThreeWaitUntilPlaybackStartsAndAllOfThemPlay)
{
    Start(false);
    for (uint16_t id = 1; id <= 63; ++id)
        ASSERT_EQ(InputRtp(RtpPacket(0, id, 9, FramePayload(id))), 0);
    EXPECT_EQ(InputRtp(RtpPacket(0, 64, 9, FramePayload(64))), ORVO_RTP_ERR_FULL);
    EXPECT_EQ(RtpStats().refused_full, 1u);
    ASSERT_EQ(Orvo_StartAudioPlay(), 0);
    ASSERT_TRUE(virt::Advance(120 * kPacketMs));
    std::vector<int> played = PlayedFrameIds();
    std::vector<int> merged; // repeats of the stretch rule merged
    for (int id : played)
        if (merged.empty() || merged.back() != id)
            merged.push_back(id);
    std::vector<int> all;
    for (int id = 1; id <= 63; ++id)
        all.push_back(id);
    EXPECT_EQ(merged, all);
    OrvoTalkStats t{};
    ASSERT_EQ(Orvo_GetAudioTalkStats(&t), 0);
    EXPECT_EQ(t.frames_dropped_overflow, 0u);
    EXPECT_EQ(RtpStats().lost, 0u);
}

} // namespace
} // namespace orvo::talk
