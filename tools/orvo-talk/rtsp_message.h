// RTSP 1.0 messages (RFC 2326) as the back-channel client needs them: the URL, the incremental
// reader of what a server sends (responses, its own requests, and interleaved RTP frames "$"),
// and the Transport and Session headers. Every size is bounded; anything malformed is an error
// with a reason, never a read outside the bytes received.
#ifndef ORVO_TALK_TOOL_RTSP_MESSAGE_H
#define ORVO_TALK_TOOL_RTSP_MESSAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvo::talktool {

constexpr uint16_t kRtspDefaultPort = 554;

struct RtspUrl {
    std::string user;     // percent-decoded; empty without credentials
    std::string password;
    bool hasCredentials = false;
    std::string host;     // without brackets for IPv6
    uint16_t port = kRtspDefaultPort;
    std::string path;     // from the first '/' on ("/" when none)
    // The URL as sent in requests: no credentials.
    std::string RequestUrl() const;
};

// rtsp://[user[:password]@]host[:port][/path]; false with `error` set.
bool ParseRtspUrl(const std::string &text, RtspUrl *url, std::string *error);

// The URL a media control attribute stands for: absolute controls as they are, "*" the base,
// others appended to the base with one '/'.
std::string ResolveControl(const std::string &base, const std::string &control);

struct RtspMessage {
    bool isResponse = false;
    int status = 0;          // responses
    std::string reason;
    std::string method;      // requests from the server
    std::string uri;
    std::vector<std::pair<std::string, std::string>> headers; // names as sent, values trimmed
    std::string body;

    // The first header of that name (case-insensitive), or null.
    const std::string *Header(const std::string &name) const;
    std::vector<std::string> AllHeaders(const std::string &name) const;
    // CSeq as a number, -1 when absent or not a number.
    long CSeq() const;
};

struct InterleavedFrame {
    uint8_t channel = 0;
    std::vector<uint8_t> data;
};

// Reads the server's byte stream: messages and interleaved frames in the order they come.
class RtspStreamReader {
public:
    static constexpr size_t kMaxHeaderBytes = 16384; // status line and headers
    static constexpr size_t kMaxHeaders = 64;
    static constexpr size_t kMaxBodyBytes = 65536;
    static constexpr size_t kMaxBuffered = kMaxHeaderBytes + kMaxBodyBytes;

    enum class Item { kNeedMore, kMessage, kFrame, kError };

    // Appends received bytes. false (and the reader is broken) when more than kMaxBuffered would
    // wait unread.
    bool Feed(const void *data, size_t length);
    // The next complete item; kError with `error` set on malformed input (the reader is broken
    // from then on: a stream out of step cannot be trusted).
    Item Next(RtspMessage *message, InterleavedFrame *frame, std::string *error);
    size_t Buffered() const { return m_buffer.size() - m_start; }

private:
    Item Fail(const std::string &why, std::string *error);
    std::string m_buffer;
    size_t m_start = 0;
    bool m_broken = false;
    std::string m_brokenReason;
};

// The parts of a Transport header (RFC 2326 section 12.39) the client uses; -1 when absent.
struct RtspTransportInfo {
    int serverRtpPort = -1, serverRtcpPort = -1;
    int interleavedRtp = -1, interleavedRtcp = -1;
    bool tcp = false;
};
bool ParseTransportHeader(const std::string &value, RtspTransportInfo *info);

// Session header: "ID[;timeout=SECONDS]". false when the id is empty or not a token.
bool ParseSessionHeader(const std::string &value, std::string *id, int *timeoutSeconds);

} // namespace orvo::talktool

#endif
