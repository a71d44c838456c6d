#include "media/unit_decoder.h"

H264DecoderOpening open_h264_decoder(int thread_count, bool split_pictures) {
  H264DecoderOpening opened;
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!decoder) return opened;
  opened.codec_found = true;
  CodecContextPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return opened;
  codec->thread_count = thread_count;
  if (split_pictures) codec->flags2 |= AV_CODEC_FLAG2_CHUNKS;
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return opened;
  opened.codec = std::move(codec);
  return opened;
}

int send_packet_taking_waiting_pictures(AVCodecContext* codec, AVFrame* frame,
                                        const AVPacket* packet,
                                        const std::function<void()>& on_picture) {
  int pictures = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (avcodec_send_packet(codec, packet) != AVERROR(EAGAIN)) break;
    const int got = avcodec_receive_frame(codec, frame);
    if (got == 0) {
      ++pictures;
      if (on_picture) on_picture();
    } else if (got == AVERROR_EOF) {
      break;
    }
  }
  return pictures;
}


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
