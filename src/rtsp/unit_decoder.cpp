#include "rtsp/unit_decoder.h"

#include "player/video_output.h"

CodecContextPtr open_unit_decoder(int thread_count) {
  return std::move(open_h264_decoder(thread_count, true).codec);
}
