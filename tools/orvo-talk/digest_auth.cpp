#include "digest_auth.h"

#include <cctype>
#include <cstdio>

#include "md5.h"

namespace orvo::talktool {
namespace {

constexpr size_t kMaxParameters = 32;
constexpr size_t kMaxValueBytes = 1024;

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsTokenChar(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u > ' ' && u < 0x7f && c != ',' && c != '=' && c != '"' && c != ';';
}

// A reader over one header value: tokens, '=' and quoted strings with backslash escapes.
class Cursor {
public:
    explicit Cursor(const std::string &text) : m_text(text) {}
    void SkipSpaces()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t'))
            ++m_at;
    }
    bool AtEnd()
    {
        SkipSpaces();
        return m_at >= m_text.size();
    }
    bool Take(char c)
    {
        SkipSpaces();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    std::string Token()
    {
        SkipSpaces();
        size_t start = m_at;
        while (m_at < m_text.size() && IsTokenChar(m_text[m_at]))
            ++m_at;
        return m_text.substr(start, m_at - start);
    }
    // A token or a quoted string; false on an unclosed quote or an over-long value.
    bool Value(std::string *out)
    {
        SkipSpaces();
        out->clear();
        if (m_at < m_text.size() && m_text[m_at] == '"') {
            ++m_at;
            while (m_at < m_text.size() && m_text[m_at] != '"') {
                if (m_text[m_at] == '\\' && m_at + 1 < m_text.size())
                    ++m_at;
                *out += m_text[m_at++];
                if (out->size() > kMaxValueBytes)
                    return false;
            }
            if (m_at >= m_text.size())
                return false;
            ++m_at;
            return true;
        }
        *out = Token();
        return out->size() <= kMaxValueBytes;
    }
    // Whether a "name=" follows (a parameter) rather than a new scheme.
    bool ParameterFollows()
    {
        size_t save = m_at;
        bool is = !Token().empty() && Take('=');
        m_at = save;
        return is;
    }

private:
    const std::string &m_text;
    size_t m_at = 0;
};

// Digest values go inside quotes: quotes and backslashes in them are escaped.
std::string Quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

bool ParseAuthChallenges(const std::string &value, std::vector<AuthChallenge> *challenges)
{
    std::vector<AuthChallenge> found;
    Cursor cursor(value);
    while (!cursor.AtEnd()) {
        if (cursor.Take(','))
            continue;
        std::string scheme = Lower(cursor.Token());
        if (scheme.empty())
            return false;
        AuthChallenge challenge;
        challenge.scheme = scheme == "digest"  ? AuthChallenge::Scheme::kDigest
                           : scheme == "basic" ? AuthChallenge::Scheme::kBasic
                                               : AuthChallenge::Scheme::kOther;
        size_t parameters = 0;
        while (!cursor.AtEnd() && cursor.ParameterFollows()) {
            if (++parameters > kMaxParameters)
                return false;
            std::string name = Lower(cursor.Token());
            cursor.Take('=');
            std::string v;
            if (!cursor.Value(&v))
                return false;
            if (name == "realm")
                challenge.realm = v;
            else if (name == "nonce")
                challenge.nonce = v;
            else if (name == "opaque")
                challenge.opaque = v;
            else if (name == "algorithm")
                challenge.algorithm = v;
            else if (name == "stale")
                challenge.stale = Lower(v) == "true";
            else if (name == "qop") {
                // A list such as "auth,auth-int".
                std::string list = Lower(v) + ",";
                size_t at = 0, comma;
                while ((comma = list.find(',', at)) != std::string::npos) {
                    std::string item = list.substr(at, comma - at);
                    while (!item.empty() && item.front() == ' ')
                        item.erase(0, 1);
                    while (!item.empty() && item.back() == ' ')
                        item.pop_back();
                    if (item == "auth")
                        challenge.qopAuth = true;
                    at = comma + 1;
                }
            }
            if (!cursor.Take(','))
                break;
        }
        found.push_back(challenge);
    }
    challenges->insert(challenges->end(), found.begin(), found.end());
    return true;
}

const AuthChallenge *ChooseChallenge(const std::vector<AuthChallenge> &challenges)
{
    for (const AuthChallenge &c : challenges)
        if (c.scheme == AuthChallenge::Scheme::kDigest && !c.nonce.empty() &&
            (c.algorithm.empty() || Lower(c.algorithm) == "md5"))
            return &c;
    for (const AuthChallenge &c : challenges)
        if (c.scheme == AuthChallenge::Scheme::kBasic)
            return &c;
    return nullptr;
}

std::string AuthorizationValue(const AuthChallenge &challenge, const Credentials &credentials,
                               const std::string &method, const std::string &uri, uint32_t nonceCount,
                               const std::string &cnonce)
{
    if (challenge.scheme == AuthChallenge::Scheme::kBasic)
        return "Basic " + Base64(credentials.user + ":" + credentials.password);
    std::string ha1 = Md5::Hex(credentials.user + ":" + challenge.realm + ":" + credentials.password);
    std::string ha2 = Md5::Hex(method + ":" + uri);
    std::string out = "Digest username=" + Quote(credentials.user) + ", realm=" + Quote(challenge.realm) +
                      ", nonce=" + Quote(challenge.nonce) + ", uri=" + Quote(uri);
    if (challenge.qopAuth) {
        char nc[9];
        std::snprintf(nc, sizeof(nc), "%08x", nonceCount);
        std::string response = Md5::Hex(ha1 + ":" + challenge.nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
        out += ", response=" + Quote(response) + ", qop=auth, nc=" + nc + ", cnonce=" + Quote(cnonce);
    } else {
        out += ", response=" + Quote(Md5::Hex(ha1 + ":" + challenge.nonce + ":" + ha2));
    }
    if (!challenge.algorithm.empty())
        out += ", algorithm=" + challenge.algorithm;
    if (!challenge.opaque.empty())
        out += ", opaque=" + Quote(challenge.opaque);
    return out;
}

std::string Base64(const std::string &bytes)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | (rest == 2 ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace orvo::talktool
