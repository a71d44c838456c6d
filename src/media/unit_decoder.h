// Decoders for streams that arrive as the depacketiser delivers them: H.264
// one NAL unit per packet, H.265 one access unit per packet.
#pragma once

#include "media/av_handles.h"
#include "rtsp/sdp.h"

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
