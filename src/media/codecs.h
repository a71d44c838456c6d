// The codecs a camera's live stream may carry, as the session description
// names them and the decoders of this layer take them.
#pragma once

// The picture codecs the live view decodes; any other name in a=rtpmap is refused.
enum class VideoCodec { h264, h265, unsupported };

// The sound codecs the live view plays: G.711 A-law and u-law, and AAC in
// either RTP form (RFC 3640 "mpeg4-generic", RFC 3016 "MP4A-LATM" with its
// configuration in the SDP). `none`: the stream has no sound; `unsupported`:
// it has sound in another codec, which is left unplayed.
enum class SoundCodec { none, pcma, pcmu, aac, aac_latm, unsupported };

// "PCMA", "PCMU", "AAC", "AAC-LATM", or "" for none and unsupported.
const char* sound_codec_name(SoundCodec codec);
