#include "media/unit_decoder.h"

#include "player/video_output.h"

CodecContextPtr open_unit_decoder(int thread_count) {
  return std::move(open_h264_decoder(thread_count, true).codec);
}

CodecContextPtr open_unit_decoder_for(VideoCodec codec, int thread_count) {
  if (codec == VideoCodec::h264) return open_unit_decoder(thread_count);
  if (codec != VideoCodec::h265) return nullptr;
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_HEVC);
  if (!decoder) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(decoder));
  if (!context) return nullptr;
  context->thread_count = thread_count;
  context->thread_type = FF_THREAD_SLICE;
  if (avcodec_open2(context.get(), decoder, nullptr) < 0) return nullptr;
  return context;
}
