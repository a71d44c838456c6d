#include "media/sound_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "recording/alaw.h"
#include "recording/recording_writer.h"

namespace {

int16_t clip16(double value) {
  return static_cast<int16_t>(std::clamp(value, -32768.0, 32767.0));
}

// One sample of an FFmpeg frame as 16 bits, whatever its sample format.
int16_t sample_at(const AVFrame& frame, int channel, int index, int channels) {
  const AVSampleFormat format = static_cast<AVSampleFormat>(frame.format);
  const bool planar = av_sample_fmt_is_planar(format);
  const uint8_t* plane = frame.extended_data[planar ? channel : 0];
  const int at = planar ? index : index * channels + channel;
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(plane)[at];
    case AV_SAMPLE_FMT_S32: return static_cast<int16_t>(reinterpret_cast<const int32_t*>(plane)[at] >> 16);
    case AV_SAMPLE_FMT_FLT: return clip16(reinterpret_cast<const float*>(plane)[at] * 32768.0);
    case AV_SAMPLE_FMT_DBL: return clip16(reinterpret_cast<const double*>(plane)[at] * 32768.0);
    case AV_SAMPLE_FMT_U8: return static_cast<int16_t>((plane[at] - 128) << 8);
    default: return 0;
  }
}

int append_frame(SoundDecoder& decoder, const AVFrame& frame, std::vector<int16_t>& out) {
  const int channels = frame.ch_layout.nb_channels;
  if (channels <= 0 || frame.nb_samples <= 0) return 0;
  decoder.rate = frame.sample_rate;
  decoder.channels = channels;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(frame.nb_samples) * static_cast<size_t>(channels));
  int16_t* to = out.data() + start;
  for (int i = 0; i < frame.nb_samples; ++i)
    for (int c = 0; c < channels; ++c) *to++ = sample_at(frame, c, i, channels);
  return frame.nb_samples;
}

bool open_aac(SoundDecoder& decoder, const std::vector<uint8_t>& config, std::string& error) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
  if (!codec) {
    error = "this FFmpeg has no AAC decoder";
    return false;
  }
  decoder.aac.reset(avcodec_alloc_context3(codec));
  decoder.frame.reset(av_frame_alloc());
  decoder.packet.reset(av_packet_alloc());
  if (!decoder.aac || !decoder.frame || !decoder.packet) {
    error = "out of memory for the AAC decoder";
    return false;
  }
  decoder.aac->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!decoder.aac->extradata) {
    error = "out of memory for the AAC decoder";
    return false;
  }
  std::memcpy(decoder.aac->extradata, config.data(), config.size());
  decoder.aac->extradata_size = static_cast<int>(config.size());
  if (avcodec_open2(decoder.aac.get(), codec, nullptr) < 0) {
    error = "the AAC decoder refused the stream's configuration";
    return false;
  }
  return true;
}

int decode_aac(SoundDecoder& decoder, const uint8_t* data, size_t size, std::vector<int16_t>& out) {
  AVPacket* packet = decoder.packet.get();
  if (av_new_packet(packet, static_cast<int>(size)) < 0) return 0;
  std::memcpy(packet->data, data, size);
  const int sent = avcodec_send_packet(decoder.aac.get(), packet);
  av_packet_unref(packet);
  if (sent < 0) return 0;
  int frames = 0;
  while (avcodec_receive_frame(decoder.aac.get(), decoder.frame.get()) == 0) {
    frames += append_frame(decoder, *decoder.frame, out);
    av_frame_unref(decoder.frame.get());
  }
  return frames;
}

}  // namespace

int16_t decode_ulaw(uint8_t byte) {
  const int u = ~byte & 0xFF;
  const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
  return static_cast<int16_t>((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

bool open_sound_decoder(SoundDecoder& decoder, SoundCodec codec, int clock_rate, int channels,
                        const std::vector<uint8_t>& aac_config, std::string& error) {
  decoder = SoundDecoder{};
  decoder.codec = codec;
  decoder.rate = clock_rate;
  decoder.channels = channels;
  if (codec == SoundCodec::pcma || codec == SoundCodec::pcmu) return clock_rate > 0 && channels > 0;
  if (codec == SoundCodec::aac || codec == SoundCodec::aac_latm) return open_aac(decoder, aac_config, error);
  error = "no decoder for this sound";
  return false;
}

int decode_sound_unit(SoundDecoder& decoder, const uint8_t* data, size_t size, std::vector<int16_t>& out) {
  if (size == 0 || size > static_cast<size_t>(INT32_MAX)) return 0;
  switch (decoder.codec) {
    case SoundCodec::pcma:
    case SoundCodec::pcmu: {
      const size_t frames = size / static_cast<size_t>(decoder.channels);
      const size_t start = out.size();
      out.resize(start + frames * static_cast<size_t>(decoder.channels));
      for (size_t i = 0; i < frames * static_cast<size_t>(decoder.channels); ++i)
        out[start + i] = decoder.codec == SoundCodec::pcma ? decode_alaw(data[i]) : decode_ulaw(data[i]);
      return static_cast<int>(frames);
    }
    case SoundCodec::aac:
    case SoundCodec::aac_latm:
      return decoder.aac ? decode_aac(decoder, data, size, out) : 0;
    default:
      return 0;
  }
}

void SwrContextDeleter::operator()(SwrContext* context) const { swr_free(&context); }

namespace {

bool make_resampler(AlawConverter& converter, int rate, int channels) {
  converter.resampler.reset();
  converter.rate = rate;
  converter.channels = channels;
  if (rate == kSoundSampleRate && channels == 1) return true;
  AVChannelLayout in_layout{}, out_layout{};
  av_channel_layout_default(&in_layout, channels);
  av_channel_layout_default(&out_layout, 1);
  SwrContext* context = nullptr;
  const int made = swr_alloc_set_opts2(&context, &out_layout, AV_SAMPLE_FMT_S16, kSoundSampleRate, &in_layout,
                                       AV_SAMPLE_FMT_S16, rate, 0, nullptr);
  av_channel_layout_uninit(&in_layout);
  av_channel_layout_uninit(&out_layout);
  converter.resampler.reset(context);
  if (made < 0 || !context || swr_init(context) < 0) {
    converter.resampler.reset();
    converter.rate = 0;
    return false;
  }
  return true;
}

}  // namespace

bool convert_to_alaw(AlawConverter& converter, const int16_t* samples, int frames, int rate, int channels,
                     std::vector<uint8_t>& out) {
  if (frames <= 0 || rate <= 0 || channels <= 0) return true;
  if ((rate != converter.rate || channels != converter.channels) && !make_resampler(converter, rate, channels))
    return false;
  const int16_t* mono = samples;
  int count = frames;
  if (converter.resampler) {
    const int room = swr_get_out_samples(converter.resampler.get(), frames);
    if (room < 0) return false;
    converter.mono.resize(static_cast<size_t>(room));
    uint8_t* to[1] = {reinterpret_cast<uint8_t*>(converter.mono.data())};
    const uint8_t* from[1] = {reinterpret_cast<const uint8_t*>(samples)};
    count = swr_convert(converter.resampler.get(), to, room, from, frames);
    if (count < 0) return false;
    mono = converter.mono.data();
  }
  for (int i = 0; i < count; ++i) out.push_back(encode_alaw(mono[i]));
  return true;
}

void flush_alaw(AlawConverter& converter, std::vector<uint8_t>& out) {
  if (converter.resampler) {
    const int room = swr_get_out_samples(converter.resampler.get(), 0);
    if (room > 0) {
      converter.mono.resize(static_cast<size_t>(room));
      uint8_t* to[1] = {reinterpret_cast<uint8_t*>(converter.mono.data())};
      const int count = swr_convert(converter.resampler.get(), to, room, nullptr, 0);
      for (int i = 0; i < count; ++i) out.push_back(encode_alaw(converter.mono[static_cast<size_t>(i)]));
    }
  }
  converter = AlawConverter{};
}
