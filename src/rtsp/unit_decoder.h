// An H.264 decoder for streams that arrive one NAL unit per packet, as the
// depacketiser delivers them.
#pragma once

#include "player/av_handles.h"

// Opens an H.264 decoder with `thread_count` threads that accepts pictures
// split over several packets (AV_CODEC_FLAG2_CHUNKS). Without that flag every
// packet counts as a whole picture: a camera that cuts each picture into
// several slices (x264's zero-latency tuning makes two or more) would give one
// half-concealed picture per slice. The flag turns frame threading off, so the
// threads work on slices. Null when no decoder is available or it cannot open.
CodecContextPtr open_unit_decoder(int thread_count);
