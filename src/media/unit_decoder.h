// Opening the picture decoders, and sending packets to a decoder that may hold
// a finished picture back: for the file player (whole recordings) and for
// streams that arrive as the depacketiser delivers them (H.264 one NAL unit
// per packet, H.265 one access unit per packet).
#pragma once

#include <functional>

#include "media/av_handles.h"
#include "media/codecs.h"

// An H.264 decoder as opened, or the reason there is none.
struct H264DecoderOpening {
  CodecContextPtr codec;     // null when there is no usable decoder
  bool codec_found = false;  // false when FFmpeg has no H.264 decoder at all
};

// Opens the H.264 decoder with `thread_count` threads. With `split_pictures`
// it accepts pictures split over several packets (AV_CODEC_FLAG2_CHUNKS), which
// turns frame threading off so the threads work on slices. Prints nothing.
H264DecoderOpening open_h264_decoder(int thread_count, bool split_pictures);

// Sends `packet` (null: end of stream). A decoder that holds a finished picture
// refuses input until the picture is taken: it is then received into `frame`,
// handed to `on_picture` and the packet sent again, at most 8 sends in all, so
// no packet is lost. Stops when the decoder is at its end. Other errors only
// mean that the packet yields no picture. Returns the number of pictures.
int send_packet_taking_waiting_pictures(AVCodecContext* codec, AVFrame* frame,
                                        const AVPacket* packet,
                                        const std::function<void()>& on_picture);

// Opens an H.264 decoder with `thread_count` threads that accepts pictures
// split over several packets (AV_CODEC_FLAG2_CHUNKS). Without that flag every
// packet counts as a whole picture: a camera that cuts each picture into
// several slices (x264's zero-latency tuning makes two or more) would give one
// half-concealed picture per slice. The flag turns frame threading off, so the
// threads work on slices. Null when no decoder is available or it cannot open.
CodecContextPtr open_unit_decoder(int thread_count);

// The decoder for `codec`: open_unit_decoder for H.264; for H.265 FFmpeg's
// HEVC decoder with slice threads only (frame threads would hold every picture
// back by one per thread). Null for an unsupported codec or when it cannot open.
CodecContextPtr open_unit_decoder_for(VideoCodec codec, int thread_count);
