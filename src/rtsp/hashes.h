// MD5 (RFC 1321) and SHA-256 (FIPS 180-4) of a byte string, as lower-case hex:
// the two hashes Digest authentication asks for, computed by libavutil.
// No state is kept between calls.
#pragma once

#include <string>
#include <string_view>

// The 32 hex digits of the MD5 hash of `bytes`.
std::string md5_hex(std::string_view bytes);

// The 64 hex digits of the SHA-256 hash of `bytes`; empty only when the
// hash's working memory cannot be had.
std::string sha256_hex(std::string_view bytes);
