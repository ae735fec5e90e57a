// Cost per packet of the RTP framing: the sender, the parser, the receive checks with the ordering
// by sequence number (in order and with every pair swapped), and the SDP reader on a camera's
// description. Fixed inputs; Google Benchmark reports the time per packet (or per description).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "orvoaudio/rtp.h"
#include "orvoaudio/voice.h"
#include "talk/rtp_receive.h"

namespace {

using namespace orvo::talk;

std::vector<uint8_t> TalkPacket(int16_t type)
{
    VoiceCodecState enc;
    HI_VOICE_EncReset(&enc, type);
    int16_t pcm[160];
    for (int i = 0; i < 160; ++i)
        pcm[i] = static_cast<int16_t>((i * 389) % 4000 - 2000);
    uint8_t frame[484];
    HI_VOICE_EncodeFrame(&enc, pcm, frame, 160);
    size_t frameBytes = 4 + 2 * static_cast<size_t>(frame[2]);
    std::vector<uint8_t> packet(2 + frameBytes);
    packet[0] = 0x80;
    packet[1] = 0x06;
    std::memcpy(packet.data() + 2, frame, frameBytes);
    return packet;
}

void SenderOf(benchmark::State &state, int16_t type)
{
    std::vector<uint8_t> talk = TalkPacket(type);
    OrvoRtpSender sender;
    Orvo_RtpSenderInit(&sender, type, ORVO_RTP_PT_AUTO, 1);
    uint8_t rtp[ORVO_RTP_PACKET_MAX];
    for (auto _ : state) {
        int32_t n = Orvo_RtpFromTalkPacket(&sender, talk.data(), static_cast<int32_t>(talk.size()),
                                           rtp, sizeof rtp);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_SendPcmu(benchmark::State &state) { SenderOf(state, VOICE_G711_U); }
void BM_SendDvi4(benchmark::State &state) { SenderOf(state, VOICE_ADPCM_DVI4); }
BENCHMARK(BM_SendPcmu);
BENCHMARK(BM_SendDvi4);

std::vector<std::vector<uint8_t>> RtpStream(int count, bool swapPairs)
{
    std::vector<uint8_t> talk = TalkPacket(VOICE_G711_U);
    OrvoRtpSender sender;
    Orvo_RtpSenderInit(&sender, VOICE_G711_U, ORVO_RTP_PT_AUTO, 1);
    std::vector<std::vector<uint8_t>> packets;
    for (int i = 0; i < count; ++i) {
        uint8_t rtp[ORVO_RTP_PACKET_MAX];
        int32_t n = Orvo_RtpFromTalkPacket(&sender, talk.data(), 166, rtp, sizeof rtp);
        packets.emplace_back(rtp, rtp + n);
    }
    if (swapPairs)
        for (size_t i = 0; i + 1 < packets.size(); i += 2)
            std::swap(packets[i], packets[i + 1]);
    return packets;
}

void BM_Parse(benchmark::State &state)
{
    std::vector<std::vector<uint8_t>> packets = RtpStream(1, false);
    OrvoRtpHeader h;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Orvo_RtpParse(packets[0].data(), 172, &h));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Parse);

class NullSink final : public OrderedFrameSink {
public:
    void Deliver(const OrderedFrame &frame) override { benchmark::DoNotOptimize(frame.sequence); }
};

void Receive(benchmark::State &state, bool swapPairs)
{
    constexpr int kStream = 4096;
    std::vector<std::vector<uint8_t>> packets = RtpStream(kStream, swapPairs);
    RtpCounters counters;
    auto reorderer = std::make_unique<RtpReorderer>(counters);
    auto frame = std::make_unique<ReceivedFrame>();
    NullSink sink;
    size_t i = 0;
    int64_t now = 0;
    for (auto _ : state) {
        if (i == packets.size()) { // the same numbers again would be duplicates: a new stream
            state.PauseTiming();
            reorderer->Reset();
            i = 0;
            state.ResumeTiming();
        }
        const std::vector<uint8_t> &p = packets[i++];
        now += 20;
        if (ReadRtpPacket(p.data(), static_cast<int32_t>(p.size()), now, *frame) == ORVO_RTP_OK)
            reorderer->Push(*frame, sink);
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_ReceiveInOrder(benchmark::State &state) { Receive(state, false); }
void BM_ReceivePairsSwapped(benchmark::State &state) { Receive(state, true); }
BENCHMARK(BM_ReceiveInOrder);
BENCHMARK(BM_ReceivePairsSwapped);

void BM_SdpReadCamera(benchmark::State &state)
{
    const std::string sdp = "v=0\r\no=- 1234 1 IN IP4 192.168.1.64\r\ns=Media Presentation\r\n"
                            "c=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:rtsp://192.168.1.64/onvif/\r\n"
                            "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n"
                            "m=audio 0 RTP/AVP 0\r\na=control:trackID=2\r\na=recvonly\r\n"
                            "m=audio 0 RTP/AVP 0 97\r\na=rtpmap:97 G726-32/8000\r\na=sendonly\r\n"
                            "a=control:trackID=3\r\n";
    OrvoSdpMedia media[4];
    for (auto _ : state) {
        benchmark::DoNotOptimize(Orvo_SdpRead(sdp.data(), static_cast<int32_t>(sdp.size()), media, 4));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SdpReadCamera);

} // namespace

BENCHMARK_MAIN();
