// SDP fragments for the RTP payloads of the talk codecs: a writer for what we send and a reader
// for what a peer offers. The reader takes any bytes: every field is cut to its room, every number
// bounded, and nothing is read beyond the length given.
#include <cstdio>
#include <cstring>

#include "orvoaudio/rtp.h"

namespace {

constexpr int32_t kMaxPort = 65535;
constexpr int32_t kMaxPayloadType = 127;
constexpr int32_t kWriteRoom = 1024; // every fragment we write fits
constexpr size_t kAddressMax = ORVO_SDP_ADDRESS_MAX - 1;
constexpr int32_t kNumberCap = 1000000000; // larger numbers are clamped, never overflow
constexpr int32_t kTalkClockRate = ORVO_RTP_CLOCK_RATE;

const char *DirectionName(int32_t direction)
{
    switch (direction) {
    case ORVO_SDP_SENDRECV: return "sendrecv";
    case ORVO_SDP_SENDONLY: return "sendonly";
    case ORVO_SDP_RECVONLY: return "recvonly";
    case ORVO_SDP_INACTIVE: return "inactive";
    default: return nullptr;
    }
}

bool UsableAddress(const char *address)
{
    size_t n = std::strlen(address);
    if (n == 0 || n > kAddressMax)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (address[i] == ' ' || address[i] == '\r' || address[i] == '\n' || address[i] == '\t')
            return false;
    return true;
}

const char *AddressFamily(const char *address) { return std::strchr(address, ':') ? "IP6" : "IP4"; }

int32_t CheckAudioArguments(const char *out, const char *address, int32_t port,
                            int32_t payloadType, int16_t voiceType, const char **name)
{
    if (!out || !address || port < 0 || port > kMaxPort || payloadType < 0 ||
        payloadType > kMaxPayloadType || !UsableAddress(address))
        return ORVO_RTP_ERR_ARGUMENT;
    *name = Orvo_RtpNameOfVoiceType(voiceType);
    if (!*name)
        return ORVO_RTP_ERR_CODEC;
    return ORVO_RTP_OK;
}

// Appends the media lines to `text` (kWriteRoom bytes, `used` of them taken); false if they do
// not fit.
bool AppendMedia(char *text, int32_t &used, const char *address, int32_t port, int32_t payloadType,
                 const char *name, int32_t ptimeMs)
{
    int n = std::snprintf(text + used, static_cast<size_t>(kWriteRoom - used),
                          "m=audio %d RTP/AVP %d\r\nc=IN %s %s\r\na=rtpmap:%d %s/%d\r\n",
                          static_cast<int>(port), static_cast<int>(payloadType),
                          AddressFamily(address), address, static_cast<int>(payloadType), name,
                          static_cast<int>(kTalkClockRate));
    if (n < 0 || n >= kWriteRoom - used)
        return false;
    used += n;
    if (ptimeMs > 0) {
        n = std::snprintf(text + used, static_cast<size_t>(kWriteRoom - used), "a=ptime:%d\r\n",
                          static_cast<int>(ptimeMs));
        if (n < 0 || n >= kWriteRoom - used)
            return false;
        used += n;
    }
    return true;
}

int32_t CopyOut(char *out, int32_t capacity, const char *text, int32_t used)
{
    if (capacity < used + 1)
        return ORVO_RTP_ERR_CAPACITY;
    std::memcpy(out, text, static_cast<size_t>(used));
    out[used] = '\0';
    return used;
}

// ---- reader

struct Span {
    const char *data;
    int32_t length;
};

bool StartsWith(Span s, const char *prefix)
{
    int32_t n = static_cast<int32_t>(std::strlen(prefix));
    return s.length >= n && std::memcmp(s.data, prefix, static_cast<size_t>(n)) == 0;
}

Span After(Span s, int32_t n) { return Span{s.data + n, s.length - n}; }

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// The next token of `s` separated by spaces (or by `stop` as well); `s` moves past it.
Span NextToken(Span &s, char stop = ' ')
{
    while (s.length > 0 && IsSpace(*s.data)) {
        ++s.data;
        --s.length;
    }
    Span token{s.data, 0};
    while (s.length > 0 && !IsSpace(*s.data) && *s.data != stop) {
        ++s.data;
        --s.length;
        ++token.length;
    }
    if (s.length > 0 && *s.data == stop && stop != ' ') {
        ++s.data;
        --s.length;
    }
    return token;
}

// A decimal number making up all of `token`, clamped; -1 when it is none.
int32_t ParseNumber(Span token)
{
    if (token.length == 0)
        return -1;
    int32_t value = 0;
    for (int32_t i = 0; i < token.length; ++i) {
        char c = token.data[i];
        if (c < '0' || c > '9')
            return -1;
        value = value >= kNumberCap / 10 ? kNumberCap : value * 10 + (c - '0');
    }
    return value;
}

void CopyField(char *field, size_t room, Span text)
{
    size_t n = static_cast<size_t>(text.length) < room - 1 ? static_cast<size_t>(text.length) : room - 1;
    std::memcpy(field, text.data, n);
    field[n] = '\0'; // a NUL inside the text ends the field there, harmlessly
}

struct StaticFormat {
    int32_t payloadType;
    const char *name;
    int32_t clockRate;
    int32_t channels;
};

// RFC 3551's static payload types, for formats offered without an rtpmap line.
constexpr StaticFormat kStaticFormats[] = {
    {0, "PCMU", 8000, 1},   {3, "GSM", 8000, 1},    {4, "G723", 8000, 1},  {5, "DVI4", 8000, 1},
    {6, "DVI4", 16000, 1},  {7, "LPC", 8000, 1},    {8, "PCMA", 8000, 1},  {9, "G722", 8000, 1},
    {10, "L16", 44100, 2},  {11, "L16", 44100, 1},  {12, "QCELP", 8000, 1}, {13, "CN", 8000, 1},
    {14, "MPA", 90000, 1},  {15, "G728", 8000, 1},  {16, "DVI4", 11025, 1}, {17, "DVI4", 22050, 1},
    {18, "G729", 8000, 1},  {25, "CelB", 90000, 1}, {26, "JPEG", 90000, 1}, {28, "nv", 90000, 1},
    {31, "H261", 90000, 1}, {32, "MPV", 90000, 1},  {33, "MP2T", 90000, 1}, {34, "H263", 90000, 1},
};

int32_t ParseDirection(Span attribute)
{
    static const char *const kNames[] = {"sendrecv", "sendonly", "recvonly", "inactive"};
    for (int32_t d = 0; d < 4; ++d) {
        int32_t n = static_cast<int32_t>(std::strlen(kNames[d]));
        if (attribute.length == n && std::memcmp(attribute.data, kNames[d], static_cast<size_t>(n)) == 0)
            return d;
    }
    return -1;
}

struct MediaExtras {
    bool hasDirection = false;
    bool hasRtpmap[ORVO_SDP_MAX_FORMATS] = {};
};

void ReadMediaLine(Span rest, OrvoSdpMedia &m)
{
    CopyField(m.media, sizeof(m.media), NextToken(rest));
    Span port = NextToken(rest, '/');
    m.port = ParseNumber(port);
    if (rest.length > 0 && !IsSpace(*rest.data))
        NextToken(rest); // the port count after '/'
    CopyField(m.protocol, sizeof(m.protocol), NextToken(rest));
    for (;;) {
        Span format = NextToken(rest);
        if (format.length == 0)
            break;
        if (m.payload_count >= ORVO_SDP_MAX_FORMATS)
            continue; // more formats than room: the first ones are kept
        int32_t pt = ParseNumber(format);
        m.payload_types[m.payload_count] = pt <= kMaxPayloadType ? pt : -1;
        ++m.payload_count;
    }
}

void ReadRtpmap(Span value, OrvoSdpMedia &m, MediaExtras &extras)
{
    int32_t pt = ParseNumber(NextToken(value));
    if (pt < 0)
        return;
    Span name = NextToken(value, '/');
    int32_t rate = ParseNumber(NextToken(value, '/'));
    Span channelsToken = NextToken(value);
    int32_t channels = channelsToken.length > 0 ? ParseNumber(channelsToken) : 1;
    for (int32_t i = 0; i < m.payload_count; ++i) {
        if (m.payload_types[i] != pt || extras.hasRtpmap[i])
            continue;
        CopyField(m.encoding[i], ORVO_SDP_NAME_MAX, name);
        m.clock_rate[i] = rate > 0 ? rate : 0;
        m.channels[i] = channels > 0 ? channels : 1;
        extras.hasRtpmap[i] = true;
    }
}

void FinishMedia(OrvoSdpMedia &m, const MediaExtras &extras, int32_t sessionDirection,
                 const char *sessionControl, const char *sessionAddress)
{
    for (int32_t i = 0; i < m.payload_count; ++i) {
        if (!extras.hasRtpmap[i]) {
            m.channels[i] = 1;
            for (const StaticFormat &f : kStaticFormats) {
                if (f.payloadType == m.payload_types[i]) {
                    std::snprintf(m.encoding[i], ORVO_SDP_NAME_MAX, "%s", f.name);
                    m.clock_rate[i] = f.clockRate;
                    m.channels[i] = f.channels;
                }
            }
        }
        m.voice_type[i] = (m.clock_rate[i] == kTalkClockRate && m.channels[i] == 1)
                              ? Orvo_RtpVoiceTypeFromName(m.encoding[i])
                              : 0;
    }
    if (!extras.hasDirection)
        m.direction = sessionDirection;
    std::snprintf(m.session_control, sizeof(m.session_control), "%s", sessionControl);
    if (m.address[0] == '\0')
        std::snprintf(m.address, sizeof(m.address), "%s", sessionAddress);
}

void ReadConnection(Span value, char *address, size_t room)
{
    NextToken(value);               // network type, IN
    NextToken(value);               // address type, IP4 / IP6
    Span host = NextToken(value, '/'); // the address, without a TTL or count
    CopyField(address, room, host);
}

} // namespace

extern "C" {

ORVO_API int32_t Orvo_SdpWriteAudio(char *out, int32_t capacity, const char *address, int32_t port,
                                    int32_t payload_type, int16_t voice_type, int32_t ptime_ms)
{
    const char *name = nullptr;
    int32_t status = CheckAudioArguments(out, address, port, payload_type, voice_type, &name);
    if (status != ORVO_RTP_OK)
        return status;
    if (capacity < 0)
        return ORVO_RTP_ERR_ARGUMENT;
    char text[kWriteRoom];
    int32_t used = 0;
    if (!AppendMedia(text, used, address, port, payload_type, name, ptime_ms))
        return ORVO_RTP_ERR_CAPACITY;
    return CopyOut(out, capacity, text, used);
}

ORVO_API int32_t Orvo_SdpWriteSession(char *out, int32_t capacity, const char *address,
                                      int32_t port, int32_t payload_type, int16_t voice_type,
                                      int32_t ptime_ms, int32_t direction)
{
    const char *name = nullptr;
    int32_t status = CheckAudioArguments(out, address, port, payload_type, voice_type, &name);
    if (status != ORVO_RTP_OK)
        return status;
    const char *directionName = DirectionName(direction);
    if (!directionName || capacity < 0)
        return ORVO_RTP_ERR_ARGUMENT;
    char text[kWriteRoom];
    int n = std::snprintf(text, sizeof(text),
                          "v=0\r\no=- 0 0 IN %s %s\r\ns=OrvoAudio talk\r\nc=IN %s %s\r\nt=0 0\r\n",
                          AddressFamily(address), address, AddressFamily(address), address);
    if (n < 0 || n >= kWriteRoom)
        return ORVO_RTP_ERR_CAPACITY;
    int32_t used = n;
    if (!AppendMedia(text, used, address, port, payload_type, name, ptime_ms))
        return ORVO_RTP_ERR_CAPACITY;
    n = std::snprintf(text + used, static_cast<size_t>(kWriteRoom - used), "a=%s\r\n", directionName);
    if (n < 0 || n >= kWriteRoom - used)
        return ORVO_RTP_ERR_CAPACITY;
    used += n;
    return CopyOut(out, capacity, text, used);
}

ORVO_API int32_t Orvo_SdpRead(const char *sdp, int32_t length, OrvoSdpMedia *media,
                              int32_t max_media)
{
    if (!sdp || length < 0 || max_media < 0 || (max_media > 0 && !media))
        return ORVO_RTP_ERR_ARGUMENT;
    int32_t sessionDirection = ORVO_SDP_SENDRECV;
    char sessionControl[ORVO_SDP_CONTROL_MAX] = "";
    char sessionAddress[ORVO_SDP_ADDRESS_MAX] = "";
    int32_t found = 0;  // m= lines seen
    int32_t filled = 0; // entries written
    OrvoSdpMedia *current = nullptr;
    MediaExtras extras;

    Span text{sdp, length};
    while (text.length > 0) {
        Span line{text.data, 0};
        while (line.length < text.length && text.data[line.length] != '\n')
            ++line.length;
        text = After(text, line.length < text.length ? line.length + 1 : line.length);
        if (line.length > 0 && line.data[line.length - 1] == '\r')
            --line.length;
        if (line.length < 2 || line.data[1] != '=')
            continue; // not an SDP line: skipped
        char kind = line.data[0];
        Span value = After(line, 2);

        if (kind == 'm') {
            if (current)
                FinishMedia(*current, extras, sessionDirection, sessionControl, sessionAddress);
            ++found;
            current = nullptr;
            extras = MediaExtras{};
            if (filled < max_media) {
                current = &media[filled++];
                *current = OrvoSdpMedia{};
                current->direction = ORVO_SDP_SENDRECV;
                ReadMediaLine(value, *current);
            }
            continue;
        }
        bool sessionLevel = found == 0;
        if (!sessionLevel && !current)
            continue; // a media section without room
        if (kind == 'c') {
            if (sessionLevel)
                ReadConnection(value, sessionAddress, sizeof(sessionAddress));
            else
                ReadConnection(value, current->address, sizeof(current->address));
        } else if (kind == 'a') {
            if (int32_t d = ParseDirection(value); d >= 0) {
                if (sessionLevel) {
                    sessionDirection = d;
                } else {
                    current->direction = d;
                    extras.hasDirection = true;
                }
            } else if (StartsWith(value, "control:")) {
                Span url = After(value, 8);
                if (sessionLevel)
                    CopyField(sessionControl, sizeof(sessionControl), url);
                else
                    CopyField(current->control, sizeof(current->control), url);
            } else if (!sessionLevel && StartsWith(value, "rtpmap:")) {
                ReadRtpmap(After(value, 7), *current, extras);
            } else if (!sessionLevel && StartsWith(value, "ptime:")) {
                Span number = After(value, 6);
                int32_t ptime = ParseNumber(NextToken(number));
                current->ptime_ms = ptime > 0 ? ptime : 0;
            }
        }
    }
    if (current)
        FinishMedia(*current, extras, sessionDirection, sessionControl, sessionAddress);
    if (found == 0)
        return ORVO_RTP_ERR_SDP;
    return filled;
}

} // extern "C"
