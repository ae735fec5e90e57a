// libFuzzer target for orvo-talk's RTSP client input: the reader of the server's byte stream
// (responses, server requests, interleaved frames), fed in chunks whose sizes come from the input,
// and on every message it yields the header parsers the client applies (WWW-Authenticate
// challenges, Transport, Session) plus the Digest answer to any challenge; the same bytes also go
// through the URL parser. Checks: nothing read or written outside a buffer, bounded buffering,
// and an error that stays an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "digest_auth.h"
#include "rtsp_message.h"

namespace {

using namespace orvo::talktool;

void UseMessage(const RtspMessage &message)
{
    std::vector<AuthChallenge> challenges;
    for (const std::string &value : message.AllHeaders("WWW-Authenticate"))
        ParseAuthChallenges(value, &challenges);
    if (const AuthChallenge *chosen = ChooseChallenge(challenges)) {
        std::string answer = AuthorizationValue(*chosen, {"user", "pass"}, "DESCRIBE", "rtsp://h/x", 1, "c");
        if (answer.empty())
            std::abort();
    }
    RtspTransportInfo transport;
    if (const std::string *value = message.Header("Transport"))
        ParseTransportHeader(*value, &transport);
    std::string id;
    int timeout = 0;
    if (const std::string *value = message.Header("Session"))
        ParseSessionHeader(*value, &id, &timeout);
    message.CSeq();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the chunk size of the feed (1..256 bytes), like TCP segments would.
    size_t chunk = static_cast<size_t>(data[0]) + 1;
    const uint8_t *stream = data + 1;
    size_t length = size - 1;

    RtspStreamReader reader;
    bool broken = false;
    for (size_t at = 0; at < length && !broken; at += chunk) {
        size_t n = std::min(chunk, length - at);
        // Exactly the chunk's bytes in a buffer of their own, so a sanitizer sees any overread.
        std::vector<uint8_t> piece(stream + at, stream + at + n);
        if (!reader.Feed(piece.data(), piece.size()))
            broken = true;
        for (;;) {
            RtspMessage message;
            InterleavedFrame frame;
            std::string error;
            RtspStreamReader::Item item = reader.Next(&message, &frame, &error);
            if (item == RtspStreamReader::Item::kNeedMore)
                break;
            if (item == RtspStreamReader::Item::kError) {
                if (error.empty() || reader.Next(&message, &frame, &error) != RtspStreamReader::Item::kError)
                    std::abort(); // an error must name itself and stay
                broken = true;
                break;
            }
            if (item == RtspStreamReader::Item::kMessage) {
                if (message.body.size() > RtspStreamReader::kMaxBodyBytes ||
                    message.headers.size() > RtspStreamReader::kMaxHeaders)
                    std::abort();
                UseMessage(message);
            }
            if (item == RtspStreamReader::Item::kFrame && frame.data.size() > 0xFFFF)
                std::abort();
        }
        if (reader.Buffered() > RtspStreamReader::kMaxBuffered)
            std::abort();
    }

    RtspUrl url;
    std::string error;
    if (ParseRtspUrl(std::string(reinterpret_cast<const char *>(stream), length), &url, &error))
        url.RequestUrl();
    std::vector<AuthChallenge> challenges;
    ParseAuthChallenges(std::string(reinterpret_cast<const char *>(stream), length), &challenges);
    return 0;
}
