// Builds WAV files in memory, field by field, so tests can make any of them wrong.
#ifndef ORVO_TESTS_TOOLS_WAV_BUILDER_H
#define ORVO_TESTS_TOOLS_WAV_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "orvo_tool/byte_order.h"

namespace orvo::tool::testing {

struct WavChunk {
    std::string id;
    std::vector<uint8_t> body;
    int64_t declared_size = -1; // -1: the body's size
};

inline std::vector<uint8_t> ThreeSamples() // 1, 32767, -32768
{
    std::vector<uint8_t> bytes;
    for (uint16_t v : {0x0001, 0x7FFF, 0x8000}) AppendLe16(bytes, v);
    return bytes;
}

struct WavSpec {
    uint16_t format_tag = 1;
    uint16_t channels = 1;
    uint32_t sample_rate = 8000;
    int64_t byte_rate = -1;   // -1: consistent with the rest
    int64_t block_align = -1; // -1: consistent with the rest
    uint16_t bits = 16;
    uint32_t fmt_size = 16;   // extra bytes are zero, except an extensible sub-format
    uint16_t sub_format = 1;  // written at fmt offset 24 when fmt_size allows
    std::vector<uint8_t> data = ThreeSamples();
};

inline std::vector<uint8_t> FmtBody(const WavSpec &s)
{
    std::vector<uint8_t> b;
    const uint16_t align = s.block_align >= 0 ? static_cast<uint16_t>(s.block_align)
                                              : static_cast<uint16_t>(s.channels * s.bits / 8);
    AppendLe16(b, s.format_tag);
    AppendLe16(b, s.channels);
    AppendLe32(b, s.sample_rate);
    AppendLe32(b, s.byte_rate >= 0 ? static_cast<uint32_t>(s.byte_rate) : s.sample_rate * align);
    AppendLe16(b, align);
    AppendLe16(b, s.bits);
    b.resize(s.fmt_size, 0);
    if (s.fmt_size >= 26) {
        b[24] = static_cast<uint8_t>(s.sub_format);
        b[25] = static_cast<uint8_t>(s.sub_format >> 8);
    }
    return b;
}

// RIFF header and chunks; pads odd chunks unless `pad` is false; `riff_size` -1 means exact.
inline std::vector<uint8_t> BuildRiff(const std::vector<WavChunk> &chunks, int64_t riff_size = -1,
                                      const std::string &magic = "RIFF", const std::string &form = "WAVE",
                                      bool pad_last = true)
{
    std::vector<uint8_t> body(form.begin(), form.end());
    for (size_t i = 0; i < chunks.size(); ++i) {
        const WavChunk &c = chunks[i];
        body.insert(body.end(), c.id.begin(), c.id.end());
        AppendLe32(body, c.declared_size >= 0 ? static_cast<uint32_t>(c.declared_size)
                                              : static_cast<uint32_t>(c.body.size()));
        body.insert(body.end(), c.body.begin(), c.body.end());
        if ((c.body.size() & 1) && (pad_last || i + 1 < chunks.size())) body.push_back(0);
    }
    std::vector<uint8_t> out(magic.begin(), magic.end());
    AppendLe32(out, riff_size >= 0 ? static_cast<uint32_t>(riff_size) : static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline std::vector<uint8_t> BuildWav(const WavSpec &s)
{
    return BuildRiff({{"fmt ", FmtBody(s)}, {"data", s.data}});
}

} // namespace orvo::tool::testing

#endif
