#include "media/codecs.h"

const char* sound_codec_name(SoundCodec codec) {
  switch (codec) {
    case SoundCodec::pcma: return "PCMA";
    case SoundCodec::pcmu: return "PCMU";
    case SoundCodec::aac: return "AAC";
    case SoundCodec::aac_latm: return "AAC-LATM";
    case SoundCodec::none:
    case SoundCodec::unsupported: return "";
  }
  return "";
}
