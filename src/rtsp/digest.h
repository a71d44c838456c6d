// Digest access authentication (RFC 2617, RFC 7616) for the RTSP client:
// reading the server's challenges and answering them. MD5 and SHA-256, with
// quality of protection "auth" (and "auth-int", whose body hash is that of the
// empty body: requests never carry one) or none. Pure text and arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class DigestAlgorithm { md5, sha256 };

struct DigestChallenge {
  std::string realm;
  std::string nonce;
  std::string opaque;            // echoed back when the server sent one
  std::string algorithm_name;    // as the server spelled it; empty when it named none (MD5)
  bool algorithm_known = true;   // MD5 or SHA-256 (the "-sess" variants are not)
  DigestAlgorithm algorithm = DigestAlgorithm::md5;
  bool qop_listed = false;       // the challenge carries a qop list
  bool qop_auth = false;         // "auth" is in it
  bool qop_auth_int = false;     // "auth-int" is in it
  bool stale = false;            // the nonce expired; the credentials were fine
};

// The Digest challenges of every WWW-Authenticate header (any letter case) in
// a response head, in order; several challenges may share one header, and
// values may be quoted (with backslash escapes) or bare tokens.
std::vector<DigestChallenge> parse_digest_challenges(const std::string& head);

// The challenge to answer: the first usable MD5 one, else the first usable
// SHA-256 one. Usable means a nonce, a known algorithm, and either no qop list
// or one holding "auth" or "auth-int". False when there is none.
bool choose_digest_challenge(const std::vector<DigestChallenge>& challenges, DigestChallenge& chosen);

// The hex "response" value for one request. `qop` is "", "auth" or "auth-int";
// `nonce_count` (8 hex digits) and `cnonce` are used only with a qop.
std::string digest_response(const DigestChallenge& challenge, const std::string& user,
                            const std::string& password, const std::string& method,
                            const std::string& uri, const std::string& qop,
                            const std::string& nonce_count, const std::string& cnonce);

// The Digest state of a session: off until a challenge is adopted.
struct DigestAuth {
  bool active = false;
  DigestChallenge challenge;
  uint32_t nonce_count = 0;  // requests answered with the current nonce
  std::string cnonce;        // the client's nonce for the current server nonce
};

// Starts answering `challenge`: the count starts again and a fresh client nonce is drawn.
void adopt_digest_challenge(DigestAuth& auth, const DigestChallenge& challenge);

// 16 random hex digits.
std::string make_cnonce();

// The complete "Authorization: Digest ..." line, CR LF included, for one
// request; counts the request. Values that need it are quoted and escaped; a
// user name holding control characters goes out as RFC 7616's username*.
std::string digest_authorization_line(DigestAuth& auth, const std::string& user,
                                      const std::string& password, const std::string& method,
                                      const std::string& uri);
