// The same codecs in independent libraries, for the ratio table only: libavcodec (pcm_alaw,
// pcm_mulaw, adpcm_ima_wav, g726, g726le) and spandsp (g711, ima_adpcm, g726 on linear samples).
// Each peer is compiled only when its development package was found.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "voice_bench.h"

#if defined(ORVO_BENCH_HAVE_SPANDSP)
#include <spandsp/telephony.h>
// telephony.h and bit_operations.h first: the codec headers rely on their declarations.
#include <spandsp/bit_operations.h>
#include <spandsp/g711.h>
#include <spandsp/g726.h>
#include <spandsp/ima_adpcm.h>
#endif

#if defined(ORVO_BENCH_HAVE_FFMPEG)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}
#endif

namespace orvo::bench {
namespace {

constexpr int kMaxCodedBytes = 8192;

#if defined(ORVO_BENCH_HAVE_SPANDSP)

struct SpanCodec {
    const char *key;
    int kind; // 0 g711, 1 ima, 2 g726
    int mode; // law, variant or bit rate
};

constexpr SpanCodec kSpanCodecs[] = {
    {"g711a", 0, G711_ALAW},     {"g711u", 0, G711_ULAW},     {"adpcm", 1, IMA_ADPCM_DVI4},
    {"g726-16", 2, 16000},       {"g726-24", 2, 24000},       {"g726-32", 2, 32000},
    {"g726-40", 2, 40000},
};

struct SpanState {
    g711_state_t *g711 = nullptr;
    ima_adpcm_state_t *ima = nullptr;
    g726_state_t *g726 = nullptr;
    explicit SpanState(const SpanCodec &c)
    {
        if (c.kind == 0)
            g711 = g711_init(nullptr, c.mode);
        else if (c.kind == 1)
            ima = ima_adpcm_init(nullptr, c.mode, 0);
        else
            g726 = g726_init(nullptr, c.mode, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    }
    ~SpanState()
    {
        if (g711)
            g711_free(g711);
        if (ima)
            ima_adpcm_free(ima);
        if (g726)
            g726_free(g726);
    }
    int Encode(uint8_t *out, const int16_t *in, int n)
    {
        if (g711)
            return g711_encode(g711, out, in, n);
        if (ima)
            return ima_adpcm_encode(ima, out, in, n);
        return g726_encode(g726, out, in, n);
    }
    int Decode(int16_t *out, const uint8_t *in, int bytes)
    {
        if (g711)
            return g711_decode(g711, out, in, bytes);
        if (ima)
            return ima_adpcm_decode(ima, out, in, bytes);
        return g726_decode(g726, out, in, bytes);
    }
};

void SpanEncode(benchmark::State &state, SpanCodec codec, int block)
{
    const std::vector<int16_t> &signal = SpeechSignal();
    const int frames = static_cast<int>(signal.size()) / block;
    SpanState s(codec);
    std::vector<uint8_t> out(kMaxCodedBytes);
    int index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.Encode(out.data(), signal.data() + index * block, block));
        benchmark::ClobberMemory();
        index = index + 1 == frames ? 0 : index + 1;
    }
    SetSamplesProcessed(state, state.iterations() * block);
}

void SpanDecode(benchmark::State &state, SpanCodec codec, int block)
{
    const std::vector<int16_t> &signal = SpeechSignal();
    const int frames = static_cast<int>(signal.size()) / block;
    std::vector<std::vector<uint8_t>> coded(frames);
    {
        SpanState enc(codec);
        std::vector<uint8_t> out(kMaxCodedBytes);
        for (int f = 0; f < frames; ++f) {
            const int bytes = enc.Encode(out.data(), signal.data() + f * block, block);
            coded[f].assign(out.begin(), out.begin() + bytes);
        }
    }
    SpanState s(codec);
    std::vector<int16_t> pcm(kMaxCodedBytes * 4);
    int64_t samples = 0;
    int index = 0;
    for (auto _ : state) {
        const int n = s.Decode(pcm.data(), coded[index].data(), static_cast<int>(coded[index].size()));
        benchmark::ClobberMemory();
        samples += n;
        index = index + 1 == frames ? 0 : index + 1;
    }
    SetSamplesProcessed(state, samples);
}

#endif // ORVO_BENCH_HAVE_SPANDSP

#if defined(ORVO_BENCH_HAVE_FFMPEG)

struct AvCodec {
    const char *key;
    const char *encoder;
    const char *decoder;
    int bit_rate;
    int bits_per_code;
};

constexpr AvCodec kAvCodecs[] = {
    {"g711a", "pcm_alaw", "pcm_alaw", 64000, 8},     {"g711u", "pcm_mulaw", "pcm_mulaw", 64000, 8},
    {"adpcm", "adpcm_ima_wav", "adpcm_ima_wav", 0, 4}, {"g726-16", "g726", "g726", 16000, 2},
    {"g726-24", "g726", "g726", 24000, 3},           {"g726-32", "g726", "g726", 32000, 4},
    {"g726-40", "g726", "g726", 40000, 5},           {"g726-16", "g726le", "g726le", 16000, 2},
    {"g726-24", "g726le", "g726le", 24000, 3},       {"g726-32", "g726le", "g726le", 32000, 4},
    {"g726-40", "g726le", "g726le", 40000, 5},
};

AVCodecContext *OpenContext(const AVCodec *codec, const AvCodec &c, int block, int block_align)
{
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return nullptr;
    ctx->sample_rate = 8000;
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&ctx->ch_layout, 1);
    if (c.bit_rate)
        ctx->bit_rate = c.bit_rate;
    ctx->bits_per_coded_sample = c.bits_per_code;
    ctx->frame_size = block;
    if (block_align)
        ctx->block_align = block_align;
    if (avcodec_open2(ctx, codec, nullptr) < 0)
        avcodec_free_context(&ctx);
    return ctx;
}

// Encodes the signal in frames the encoder accepts; returns the frame size used (0 on failure).
int AvEncodeAll(const AvCodec &c, int block, std::vector<AVPacket *> *packets, int *block_align)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(c.encoder);
    AVCodecContext *ctx = codec ? OpenContext(codec, c, block, 0) : nullptr;
    if (!ctx)
        return 0;
    const int frame_size = ctx->frame_size > 0 ? ctx->frame_size : block;
    *block_align = ctx->block_align;
    const std::vector<int16_t> &signal = SpeechSignal();
    AVFrame *frame = av_frame_alloc();
    frame->nb_samples = frame_size;
    frame->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&frame->ch_layout, 1);
    av_frame_get_buffer(frame, 0);
    for (std::size_t pos = 0; pos + frame_size <= signal.size(); pos += frame_size) {
        av_frame_make_writable(frame);
        std::memcpy(frame->data[0], signal.data() + pos, frame_size * sizeof(int16_t));
        if (avcodec_send_frame(ctx, frame) < 0)
            break;
        AVPacket *pkt = av_packet_alloc();
        if (avcodec_receive_packet(ctx, pkt) == 0 && packets)
            packets->push_back(pkt);
        else
            av_packet_free(&pkt);
    }
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return frame_size;
}

void AvEncode(benchmark::State &state, AvCodec c, int block)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(c.encoder);
    AVCodecContext *ctx = codec ? OpenContext(codec, c, block, 0) : nullptr;
    if (!ctx) {
        state.SkipWithError("encoder not available");
        return;
    }
    const int frame_size = ctx->frame_size > 0 ? ctx->frame_size : block;
    const std::vector<int16_t> &signal = SpeechSignal();
    const int frames = static_cast<int>(signal.size()) / frame_size;
    std::vector<AVFrame *> input(frames);
    for (int f = 0; f < frames; ++f) {
        input[f] = av_frame_alloc();
        input[f]->nb_samples = frame_size;
        input[f]->format = AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&input[f]->ch_layout, 1);
        av_frame_get_buffer(input[f], 0);
        std::memcpy(input[f]->data[0], signal.data() + f * frame_size, frame_size * sizeof(int16_t));
    }
    AVPacket *pkt = av_packet_alloc();
    int index = 0;
    int64_t samples = 0;
    for (auto _ : state) {
        avcodec_send_frame(ctx, input[index]);
        if (avcodec_receive_packet(ctx, pkt) == 0)
            av_packet_unref(pkt);
        samples += frame_size;
        index = index + 1 == frames ? 0 : index + 1;
    }
    SetSamplesProcessed(state, samples);
    av_packet_free(&pkt);
    for (AVFrame *f : input)
        av_frame_free(&f);
    avcodec_free_context(&ctx);
}

void AvDecode(benchmark::State &state, AvCodec c, int block)
{
    std::vector<AVPacket *> packets;
    int block_align = 0;
    const int frame_size = AvEncodeAll(c, block, &packets, &block_align);
    const AVCodec *codec = avcodec_find_decoder_by_name(c.decoder);
    AVCodecContext *ctx = frame_size && codec && !packets.empty() ? OpenContext(codec, c, block, block_align) : nullptr;
    if (!ctx) {
        state.SkipWithError("decoder not available");
        for (AVPacket *p : packets)
            av_packet_free(&p);
        return;
    }
    AVFrame *frame = av_frame_alloc();
    int index = 0;
    int64_t samples = 0;
    const int count = static_cast<int>(packets.size());
    for (auto _ : state) {
        avcodec_send_packet(ctx, packets[index]);
        if (avcodec_receive_frame(ctx, frame) == 0) {
            samples += frame->nb_samples;
            av_frame_unref(frame);
        }
        index = index + 1 == count ? 0 : index + 1;
    }
    SetSamplesProcessed(state, samples);
    av_frame_free(&frame);
    for (AVPacket *p : packets)
        av_packet_free(&p);
    avcodec_free_context(&ctx);
}

#endif // ORVO_BENCH_HAVE_FFMPEG

[[maybe_unused]] const bool kRegistered = [] {
    for (int block : kBlockSizes) {
#if defined(ORVO_BENCH_HAVE_SPANDSP)
        for (const SpanCodec &c : kSpanCodecs) {
            benchmark::RegisterBenchmark(BenchName("spandsp", c.key, "encode", block).c_str(),
                                         [c, block](benchmark::State &s) { SpanEncode(s, c, block); });
            benchmark::RegisterBenchmark(BenchName("spandsp", c.key, "decode", block).c_str(),
                                         [c, block](benchmark::State &s) { SpanDecode(s, c, block); });
        }
#endif
#if defined(ORVO_BENCH_HAVE_FFMPEG)
        for (const AvCodec &c : kAvCodecs) {
            const std::string impl = std::string("ffmpeg-") + c.encoder;
            benchmark::RegisterBenchmark(BenchName(impl, c.key, "encode", block).c_str(),
                                         [c, block](benchmark::State &s) { AvEncode(s, c, block); });
            benchmark::RegisterBenchmark(BenchName(impl, c.key, "decode", block).c_str(),
                                         [c, block](benchmark::State &s) { AvDecode(s, c, block); });
        }
#endif
        (void)block;
    }
    return true;
}();

} // namespace
} // namespace orvo::bench
