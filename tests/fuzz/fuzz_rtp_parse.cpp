// Feeds arbitrary bytes to the RTP framing: the header parser, the receive path's checks and
// ordering (the same code Orvo_InputRtpData and the playback feeder run) with every frame decoded
// as the playback would (long payloads cut into frames first), the sender's talk-packet checks, and the SDP reader.
//   byte 0: bits 0-1 G.726 receive packing override, bits 2-5 which codecs the dynamic payload
//           types 96..99 stand for, bits 6-7 the sender's codec
//   rest:   packets, each a 2-byte little-endian length and that many bytes (cut at the end);
//           each packet is copied into a buffer of exactly its length, so that the sanitizer
//           catches any read beyond it. The whole input is also read as a session description.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "talk/rtp/rtp_format.h"
#include "talk/rtp_receive.h"

namespace {

using namespace orvo::talk;

constexpr int16_t kCodecs[] = {VOICE_G711_A,   VOICE_G711_U,   VOICE_ADPCM_DVI4,   VOICE_G726_16K,
                               VOICE_G726_24K, VOICE_G726_32K, VOICE_G726_40K,     VOICE_G726_16K_MSB,
                               VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};
constexpr std::size_t kCodecCount = sizeof kCodecs / sizeof kCodecs[0];
constexpr int64_t kPacketMs = 20;
constexpr int kExpireEvery = 4;
constexpr int32_t kMaxPlaySamples = 320;

// Decodes every ordered frame (after the splitter) the way the playback loop does: header rebuilt from the length,
// decoder reset on a codec change or a new stream.
class DecodingSink final : public OrderedFrameSink {
public:
    void Deliver(const OrderedFrame &frame) override
    {
        if (frame.length > kMaxPlaySamples || frame.length % 2 != 0)
            std::abort();
        if (frame.type != m_decoder.type || frame.newStream)
            HI_VOICE_DecReset(&m_decoder, frame.type);
        uint8_t buffer[4 + kMaxPlaySamples];
        buffer[0] = 0x00;
        buffer[1] = 0x01;
        buffer[2] = static_cast<uint8_t>(frame.length / 2);
        buffer[3] = 0;
        std::memcpy(buffer + 4, frame.payload, frame.length);
        int16_t samples[HI_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        // Every frame the checks let through decodes, into at most one playback block.
        if (HI_VOICE_DecodeFrame(&m_decoder, buffer, samples, &count) != 0 || count <= 0 ||
            count > kMaxPlaySamples)
            std::abort();
    }

private:
    VoiceCodecState m_decoder{};
};

void CheckParse(const uint8_t *packet, int32_t length)
{
    OrvoRtpHeader h;
    if (Orvo_RtpParse(packet, length, &h) != ORVO_RTP_OK)
        return;
    if (h.payload_offset < ORVO_RTP_HEADER_BYTES || h.payload_length < 0 ||
        h.payload_offset + h.payload_length + h.padding_length != length || h.csrc_count > 15)
        std::abort();
}

void CheckSdp(const uint8_t *data, std::size_t size)
{
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    std::memcpy(text.get(), data, size);
    OrvoSdpMedia media[3];
    int32_t n = Orvo_SdpRead(text.get(), static_cast<int32_t>(size), media, 3);
    if (n > 3)
        std::abort();
    for (int32_t i = 0; i < n; ++i) {
        const OrvoSdpMedia &m = media[i];
        if (m.payload_count < 0 || m.payload_count > ORVO_SDP_MAX_FORMATS ||
            memchr(m.control, 0, sizeof m.control) == nullptr ||
            memchr(m.session_control, 0, sizeof m.session_control) == nullptr ||
            memchr(m.address, 0, sizeof m.address) == nullptr ||
            memchr(m.media, 0, sizeof m.media) == nullptr || m.direction < 0 || m.direction > 3)
            std::abort();
        for (int32_t f = 0; f < m.payload_count; ++f)
            if (memchr(m.encoding[f], 0, ORVO_SDP_NAME_MAX) == nullptr)
                std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    CheckSdp(data, size);
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    Orvo_SetRtpG726Packing(ORVO_AUDIO_PLAYBACK, control & 3);
    for (int32_t pt = 0; pt < 4; ++pt)
        Orvo_SetRtpPayloadType(ORVO_RTP_PT_DYNAMIC_FIRST + pt,
                               kCodecs[(((control >> 2) & 0xF) + 3 * pt) % kCodecCount]);
    OrvoRtpSender sender;
    Orvo_RtpSenderInit(&sender, kCodecs[(control >> 6) % kCodecCount], ORVO_RTP_PT_AUTO, 1);

    RtpCounters counters;
    auto reorderer = std::make_unique<RtpReorderer>(counters);
    auto frame = std::make_unique<ReceivedFrame>();
    DecodingSink decoding;
    FrameSplitter splitter;
    SplittingSink sink(splitter, decoding);
    std::size_t at = 1;
    int64_t now = 0;
    for (int index = 0; at + 2 <= size; ++index) {
        std::size_t length = data[at] | static_cast<std::size_t>(data[at + 1]) << 8;
        at += 2;
        if (length > size - at)
            length = size - at;
        std::unique_ptr<uint8_t[]> packet(new uint8_t[length ? length : 1]);
        std::memcpy(packet.get(), data + at, length);
        at += length;
        const int32_t n = static_cast<int32_t>(length);

        CheckParse(packet.get(), n);
        now += kPacketMs;
        if (ReadRtpPacket(packet.get(), n, now, *frame) == ORVO_RTP_OK)
            reorderer->Push(*frame, sink);
        if (index % kExpireEvery == kExpireEvery - 1)
            reorderer->Expire(now, sink);

        uint8_t rtp[ORVO_RTP_PACKET_MAX];
        int32_t written = Orvo_RtpFromTalkPacket(&sender, packet.get(), n, rtp, sizeof rtp);
        if (written > ORVO_RTP_PACKET_MAX)
            std::abort();
    }
    reorderer->Expire(now + 1000, sink);
    if (reorderer->Waiting() != 0)
        std::abort();
    rtp::ResetPayloadTable();
    return 0;
}
