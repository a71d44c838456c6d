#include "rtsp/unit_decoder.h"

CodecContextPtr open_unit_decoder(int thread_count) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return nullptr;
  context->thread_count = thread_count;
  context->flags2 |= AV_CODEC_FLAG2_CHUNKS;
  if (avcodec_open2(context.get(), codec, nullptr) != 0) return nullptr;
  return context;
}
