#include "recording/resident_pages.h"

#include "platform/mapped_file.h"

namespace {

void release_span(ResidentPages& p, int64_t begin, int64_t end) {
  if (end <= begin) return;
  release_mapped_pages(*p.file, begin, end);
  p.released_bytes += end - begin;
}

}  // namespace

void note_resident_read(ResidentPages& p, const uint8_t* data, size_t size) {
  if (!p.file || !data) return;
  const int64_t at = data - p.file->data;
  const int64_t until = at + static_cast<int64_t>(size);
  const bool onward = p.begin >= 0 && at >= p.begin - kResidentKeepBytes && at <= p.end + kResidentSpanBytes;
  if (!onward) {
    release_resident_pages(p);
    p.begin = at;
    p.end = until;
    return;
  }
  if (until > p.end) p.end = until;
  if (at < p.begin) p.begin = at;
  if (at - p.begin > kResidentSpanBytes) {
    release_span(p, p.begin, at - kResidentKeepBytes);
    p.begin = at - kResidentKeepBytes;
  }
}

void release_resident_pages(ResidentPages& p) {
  if (p.file && p.begin >= 0) release_span(p, p.begin, p.end);
  p.begin = p.end = -1;
}
