// The codecs a camera's live stream may carry, as the session description
// names them and the decoders of this layer take them.
#pragma once

// The picture codecs the live view decodes; any other name in a=rtpmap is refused.
enum class VideoCodec { h264, h265, unsupported };
