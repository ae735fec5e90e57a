// Little-endian reads and writes on byte buffers, independent of the host's order.
#ifndef ORVO_TOOL_BYTE_ORDER_H
#define ORVO_TOOL_BYTE_ORDER_H

#include <cstdint>
#include <vector>

namespace orvo::tool {

inline uint16_t ReadLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t *p, uint32_t v)
{
    WriteLe16(p, static_cast<uint16_t>(v));
    WriteLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void AppendLe16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLe32(std::vector<uint8_t> &out, uint32_t v)
{
    AppendLe16(out, static_cast<uint16_t>(v));
    AppendLe16(out, static_cast<uint16_t>(v >> 16));
}

} // namespace orvo::tool

#endif
