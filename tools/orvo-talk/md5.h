// MD5 (RFC 1321), for HTTP Digest authentication of RTSP requests only: not a security primitive.
#ifndef ORVO_TALK_TOOL_MD5_H
#define ORVO_TALK_TOOL_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo::talktool {

class Md5 {
public:
    Md5();
    void Update(const void *data, size_t length);
    // The 16-byte digest; the object is spent afterwards.
    void Finish(uint8_t digest[16]);

    // Lower-case hex digest of `text`, as Digest authentication writes it.
    static std::string Hex(const std::string &text);

private:
    void Block(const uint8_t block[64]);
    uint32_t m_state[4];
    uint64_t m_bytes = 0;
    uint8_t m_buffer[64];
};

} // namespace orvo::talktool

#endif
