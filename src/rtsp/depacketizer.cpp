#include "rtsp/depacketizer.h"

#include "rtsp/depacketizer_h264.h"
#include "rtsp/depacketizer_h265.h"
#include "rtsp/sdp.h"

void depacketize_rtp(const uint8_t* packet, size_t size, DepacketizerState& state,
                     const NalSinks& sinks) {
  if (size >= 12) state.unit_timestamp = rtp_timestamp(packet);
  if (state.codec == VideoCodec::h265)
    depacketize_h265(packet, size, state, sinks);
  else if (state.codec == VideoCodec::h264)
    depacketize_h264(packet, size, state, sinks);
}

int feed_sdp_parameter_sets(const std::string& sdp, const NalSinks& sinks) {
  const bool h265 = video_codec_from_encoding(sdp_video_encoding(sdp)) == VideoCodec::h265;
  int fed = 0;
  for (const std::vector<uint8_t>& unit : h265 ? sprop_h265_parameter_sets(sdp) : sprop_parameter_sets(sdp)) {
    submit_unit(sinks.feed_nal, unit.data(), unit.size());
    ++fed;
  }
  return fed;
}
