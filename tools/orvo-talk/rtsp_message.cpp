#include "rtsp_message.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace orvo::talktool {
namespace {

constexpr char kScheme[] = "rtsp://";
constexpr char kVersion[] = "RTSP/1.0";
constexpr uint8_t kInterleavedMark = '$';
constexpr size_t kInterleavedHead = 4; // '$', channel, 16-bit length
constexpr long kMaxPort = 65535;
constexpr long kMaxSessionTimeoutS = 86400;

bool EqualNoCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Trim(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool PercentDecode(const std::string &text, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0)
            return false;
        *out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
    }
    return true;
}

// A whole decimal number within [0, max]; false otherwise.
bool ParseNumber(const std::string &text, long max, long *value)
{
    if (text.empty() || text.size() > 9)
        return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > max)
        return false;
    *value = v;
    return true;
}

// "a-b" or "a" as one or two numbers.
bool ParseRange(const std::string &text, long max, int *first, int *second)
{
    size_t dash = text.find('-');
    long a = 0, b = 0;
    if (!ParseNumber(Trim(text.substr(0, dash)), max, &a))
        return false;
    *first = static_cast<int>(a);
    if (dash == std::string::npos) {
        *second = *first + 1 <= max ? *first + 1 : -1;
        return true;
    }
    if (!ParseNumber(Trim(text.substr(dash + 1)), max, &b))
        return false;
    *second = static_cast<int>(b);
    return true;
}

bool IsToken(const std::string &text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7f || std::strchr("()<>@,;:\\\"/[]?={}", c))
            return false;
    }
    return true;
}

} // namespace

std::string RtspUrl::RequestUrl() const
{
    std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return kScheme + h + ":" + std::to_string(port) + path;
}

bool ParseRtspUrl(const std::string &text, RtspUrl *url, std::string *error)
{
    *url = RtspUrl{};
    auto fail = [&](const std::string &why) {
        *error = "bad RTSP URL '" + text + "': " + why;
        return false;
    };
    if (text.size() < sizeof(kScheme) - 1 || !EqualNoCase(text.substr(0, sizeof(kScheme) - 1), kScheme))
        return fail("it must start with rtsp://");
    for (char c : text)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return fail("spaces and control characters must be percent-encoded");
    std::string rest = text.substr(sizeof(kScheme) - 1);
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    url->path = slash == std::string::npos ? "/" : rest.substr(slash);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string credentials = authority.substr(0, at);
        authority = authority.substr(at + 1);
        size_t colon = credentials.find(':');
        if (!PercentDecode(credentials.substr(0, colon), &url->user) ||
            (colon != std::string::npos && !PercentDecode(credentials.substr(colon + 1), &url->password)))
            return fail("bad percent-encoding in the credentials");
        url->hasCredentials = true;
    }
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos)
            return fail("unclosed [ in the host");
        url->host = authority.substr(1, close - 1);
        std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return fail("text after the IPv6 address");
            portText = after.substr(1);
        }
    } else {
        size_t colon = authority.find(':');
        url->host = authority.substr(0, colon);
        if (colon != std::string::npos)
            portText = authority.substr(colon + 1);
    }
    if (url->host.empty())
        return fail("no host");
    if (!portText.empty() || authority.back() == ':') {
        long port = 0;
        if (!ParseNumber(portText, kMaxPort, &port) || port == 0)
            return fail("the port must be a number from 1 to 65535");
        url->port = static_cast<uint16_t>(port);
    }
    return true;
}

std::string ResolveControl(const std::string &base, const std::string &control)
{
    if (control.empty() || control == "*")
        return base;
    if (control.size() >= sizeof(kScheme) - 1 && EqualNoCase(control.substr(0, sizeof(kScheme) - 1), kScheme))
        return control;
    if (!base.empty() && base.back() == '/')
        return base + (control[0] == '/' ? control.substr(1) : control);
    return base + (control[0] == '/' ? "" : "/") + control;
}

const std::string *RtspMessage::Header(const std::string &name) const
{
    for (const auto &header : headers)
        if (EqualNoCase(header.first, name))
            return &header.second;
    return nullptr;
}

std::vector<std::string> RtspMessage::AllHeaders(const std::string &name) const
{
    std::vector<std::string> values;
    for (const auto &header : headers)
        if (EqualNoCase(header.first, name))
            values.push_back(header.second);
    return values;
}

long RtspMessage::CSeq() const
{
    const std::string *value = Header("CSeq");
    long n = 0;
    return value && ParseNumber(*value, 999999999, &n) ? n : -1;
}

bool RtspStreamReader::Feed(const void *data, size_t length)
{
    if (m_broken)
        return false;
    if (m_start > 0 && m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    if (Buffered() + length > kMaxBuffered) {
        m_broken = true;
        m_brokenReason = "the server sent more than " + std::to_string(kMaxBuffered) + " bytes without a whole message";
        return false;
    }
    if (m_start > kMaxBuffered) { // keep the buffer from growing with consumed bytes
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
    m_buffer.append(static_cast<const char *>(data), length);
    return true;
}

RtspStreamReader::Item RtspStreamReader::Fail(const std::string &why, std::string *error)
{
    m_broken = true;
    m_brokenReason = why;
    *error = why;
    return Item::kError;
}

RtspStreamReader::Item RtspStreamReader::Next(RtspMessage *message, InterleavedFrame *frame, std::string *error)
{
    if (m_broken) {
        *error = m_brokenReason;
        return Item::kError;
    }
    // Blank lines between messages are allowed (RFC 2326 keeps HTTP's tolerance).
    while (m_start < m_buffer.size() && (m_buffer[m_start] == '\r' || m_buffer[m_start] == '\n'))
        ++m_start;
    size_t available = m_buffer.size() - m_start;
    if (available == 0)
        return Item::kNeedMore;
    const char *p = m_buffer.data() + m_start;

    if (static_cast<uint8_t>(p[0]) == kInterleavedMark) {
        if (available < kInterleavedHead)
            return Item::kNeedMore;
        size_t length = size_t(static_cast<uint8_t>(p[2])) << 8 | static_cast<uint8_t>(p[3]);
        if (available < kInterleavedHead + length)
            return Item::kNeedMore;
        frame->channel = static_cast<uint8_t>(p[1]);
        frame->data.assign(reinterpret_cast<const uint8_t *>(p) + kInterleavedHead,
                           reinterpret_cast<const uint8_t *>(p) + kInterleavedHead + length);
        m_start += kInterleavedHead + length;
        return Item::kFrame;
    }

    // The end of the headers: an empty line (CRLF CRLF, or bare LF LF from lax servers).
    size_t headerEnd = std::string::npos, bodyStart = 0;
    for (size_t i = 0; i + 1 < available && i < kMaxHeaderBytes; ++i) {
        if (p[i] != '\n')
            continue;
        if (p[i + 1] == '\n') {
            headerEnd = i;
            bodyStart = i + 2;
            break;
        }
        if (p[i + 1] == '\r' && i + 2 < available && p[i + 2] == '\n') {
            headerEnd = i;
            bodyStart = i + 3;
            break;
        }
    }
    if (headerEnd == std::string::npos) {
        if (available >= kMaxHeaderBytes)
            return Fail("an RTSP message header longer than " + std::to_string(kMaxHeaderBytes) + " bytes", error);
        return Item::kNeedMore;
    }

    RtspMessage parsed;
    std::vector<std::string> lines;
    {
        std::string head(p, headerEnd);
        size_t at = 0;
        while (at <= head.size()) {
            size_t nl = head.find('\n', at);
            std::string line = head.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
            if (nl == std::string::npos)
                break;
            at = nl + 1;
        }
    }
    const std::string &first = lines[0];
    if (first.compare(0, sizeof(kVersion) - 1, kVersion) == 0) {
        // RTSP/1.0 SP 3DIGIT SP reason
        if (first.size() < sizeof(kVersion) + 3 || first[sizeof(kVersion) - 1] != ' ')
            return Fail("a malformed RTSP status line '" + first.substr(0, 80) + "'", error);
        long status = 0;
        if (!ParseNumber(first.substr(sizeof(kVersion), 3), 999, &status) || status < 100 ||
            (first.size() > sizeof(kVersion) + 3 && first[sizeof(kVersion) + 3] != ' '))
            return Fail("a malformed RTSP status line '" + first.substr(0, 80) + "'", error);
        parsed.isResponse = true;
        parsed.status = static_cast<int>(status);
        parsed.reason = first.size() > sizeof(kVersion) + 4 ? first.substr(sizeof(kVersion) + 4) : "";
    } else {
        // METHOD SP URI SP RTSP/1.0: a request from the server.
        size_t s1 = first.find(' ');
        size_t s2 = s1 == std::string::npos ? s1 : first.find(' ', s1 + 1);
        if (s2 == std::string::npos || !IsToken(first.substr(0, s1)) || first.substr(s2 + 1) != kVersion)
            return Fail("neither an RTSP response nor a request: '" + first.substr(0, 80) + "'", error);
        parsed.method = first.substr(0, s1);
        parsed.uri = first.substr(s1 + 1, s2 - s1 - 1);
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) { // folded continuation
            if (parsed.headers.empty())
                return Fail("a continuation line before any header", error);
            parsed.headers.back().second += " " + Trim(line);
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || !IsToken(line.substr(0, colon)))
            return Fail("a malformed RTSP header line '" + line.substr(0, 80) + "'", error);
        if (parsed.headers.size() >= kMaxHeaders)
            return Fail("more than " + std::to_string(kMaxHeaders) + " headers in one RTSP message", error);
        parsed.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    size_t bodyLength = 0;
    if (const std::string *length = parsed.Header("Content-Length")) {
        long n = 0;
        if (!ParseNumber(*length, static_cast<long>(kMaxBodyBytes), &n))
            return Fail("a Content-Length that is not a number up to " + std::to_string(kMaxBodyBytes) + ": '" +
                            length->substr(0, 40) + "'",
                        error);
        bodyLength = static_cast<size_t>(n);
    }
    if (available < bodyStart + bodyLength)
        return Item::kNeedMore;
    parsed.body.assign(p + bodyStart, bodyLength);
    m_start += bodyStart + bodyLength;
    *message = std::move(parsed);
    return Item::kMessage;
}

bool ParseTransportHeader(const std::string &value, RtspTransportInfo *info)
{
    *info = RtspTransportInfo{};
    // Only the first transport of a list (the server answers with the one it chose).
    std::string chosen = value.substr(0, value.find(','));
    size_t at = 0;
    bool first = true;
    while (at <= chosen.size()) {
        size_t semicolon = chosen.find(';', at);
        std::string part = Trim(chosen.substr(at, semicolon == std::string::npos ? std::string::npos : semicolon - at));
        if (first) {
            if (part.compare(0, 7, "RTP/AVP") != 0)
                return false;
            info->tcp = part == "RTP/AVP/TCP";
            first = false;
        } else {
            size_t equals = part.find('=');
            std::string name = Trim(part.substr(0, equals));
            std::string v = equals == std::string::npos ? "" : Trim(part.substr(equals + 1));
            if (name == "server_port" && !ParseRange(v, kMaxPort, &info->serverRtpPort, &info->serverRtcpPort))
                return false;
            if (name == "interleaved" && !ParseRange(v, 255, &info->interleavedRtp, &info->interleavedRtcp))
                return false;
        }
        if (semicolon == std::string::npos)
            break;
        at = semicolon + 1;
    }
    return true;
}

bool ParseSessionHeader(const std::string &value, std::string *id, int *timeoutSeconds)
{
    size_t semicolon = value.find(';');
    *id = Trim(value.substr(0, semicolon));
    *timeoutSeconds = -1;
    for (char c : *id) // session ids are tokens of safe characters; they go back into requests
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == ';' || c == ',')
            return false;
    if (id->empty())
        return false;
    if (semicolon != std::string::npos) {
        std::string parameter = value.substr(semicolon + 1);
        size_t equals = parameter.find('=');
        long seconds = 0;
        if (equals != std::string::npos && Trim(parameter.substr(0, equals)) == "timeout" &&
            ParseNumber(Trim(parameter.substr(equals + 1)), kMaxSessionTimeoutS, &seconds))
            *timeoutSeconds = static_cast<int>(seconds);
    }
    return true;
}

} // namespace orvo::talktool
