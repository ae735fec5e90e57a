// HTTP authentication of RTSP requests (RFC 2617), as cameras use it: Basic, and Digest with MD5
// (with or without qop=auth). The challenge parser takes any text a server sends.
#ifndef ORVO_TALK_TOOL_DIGEST_AUTH_H
#define ORVO_TALK_TOOL_DIGEST_AUTH_H

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::talktool {

struct AuthChallenge {
    enum class Scheme { kBasic, kDigest, kOther } scheme = Scheme::kOther;
    std::string realm, nonce, opaque, algorithm;
    bool qopAuth = false; // the server offers qop=auth
    bool stale = false;
};

// Appends the challenges of one WWW-Authenticate value (several may share a value). false when
// the value is malformed (nothing appended then).
bool ParseAuthChallenges(const std::string &value, std::vector<AuthChallenge> *challenges);

// The challenge to answer: Digest with MD5 before Basic; null when none is usable.
const AuthChallenge *ChooseChallenge(const std::vector<AuthChallenge> &challenges);

struct Credentials {
    std::string user, password;
};

// The Authorization header value for one request. `nonceCount` counts the requests made with this
// nonce (from 1); `cnonce` is the client's nonce (used with qop=auth).
std::string AuthorizationValue(const AuthChallenge &challenge, const Credentials &credentials,
                               const std::string &method, const std::string &uri, uint32_t nonceCount,
                               const std::string &cnonce);

std::string Base64(const std::string &bytes);

} // namespace orvo::talktool

#endif
