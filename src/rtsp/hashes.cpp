#include "rtsp/hashes.h"

#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

namespace {

struct AvShaDeleter {
  void operator()(AVSHA* context) const { av_free(context); }
};
using ShaContextPtr = std::unique_ptr<AVSHA, AvShaDeleter>;

std::string to_hex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

const uint8_t* byte_data(std::string_view bytes) {
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

}  // namespace

std::string md5_hex(std::string_view bytes) {
  uint8_t digest[16];
  av_md5_sum(digest, byte_data(bytes), bytes.size());
  return to_hex(digest, sizeof digest);
}

std::string sha256_hex(std::string_view bytes) {
  ShaContextPtr context(av_sha_alloc());
  if (!context || av_sha_init(context.get(), 256) < 0) return "";
  av_sha_update(context.get(), byte_data(bytes), bytes.size());
  uint8_t digest[32];
  av_sha_final(context.get(), digest);
  return to_hex(digest, sizeof digest);
}
