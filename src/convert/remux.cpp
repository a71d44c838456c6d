#include "convert/remux.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define current_process_id _getpid
#else
#include <unistd.h>
#define current_process_id getpid
#endif

#include "convert/avc_config.h"
#include "platform/files.h"
#include "player/av_handles.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

struct OutputContextDeleter {
  void operator()(AVFormatContext* context) const {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

// The temporary MP4 beside the target; removed when it goes out of scope
// unless it was moved over the target.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(file_system_path(path), ignored);
  }
};

// "<output's folder>/.tmp-<pid>-<n>.mp4": in the target's folder, so moving it
// there is a rename within one file system. The name does not grow with the
// target's, so a target whose name is near the file system's limit still gets one.
std::string temporary_output_path(const std::string& output_path, unsigned sequence) {
  const size_t name_start = output_path.find_last_of("/\\");
  const std::string folder =
      name_start == std::string::npos ? "" : output_path.substr(0, name_start + 1);
  return folder + ".tmp-" + std::to_string(current_process_id()) + "-" +
         std::to_string(sequence) + ".mp4";
}

// Creates a new, empty file with a name nobody else uses; "" when the folder
// does not let us.
std::string create_temporary_beside(const std::string& output_path) {
  static std::atomic<unsigned> sequence{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string path = temporary_output_path(output_path, sequence.fetch_add(1));
    const CreateResult created = create_new_file(path);
    if (created == CreateResult::created) return path;
    if (created == CreateResult::failed) return "";
  }
  return "";
}

// One decoder packet holding each given unit behind a 4-byte start code.
// Sending SPS and PPS in the packet of the first picture, rather than alone,
// spares the console the decoder's "no frame!" complaints. Null when it
// cannot be allocated.
PacketPtr make_probe_packet(const std::vector<const NalUnit*>& units) {
  int64_t size = 0;
  for (const NalUnit* unit : units) size += 4 + unit->size;
  if (size > INT32_MAX) return nullptr;
  PacketPtr packet(av_packet_alloc());
  if (!packet || av_new_packet(packet.get(), static_cast<int>(size)) < 0) return nullptr;
  uint8_t* out = packet->data;
  for (const NalUnit* unit : units) {
    const uint8_t start_code[4] = {0, 0, 0, 1};
    std::memcpy(out, start_code, 4);
    std::memcpy(out + 4, unit->data, static_cast<size_t>(unit->size));
    out += 4 + unit->size;
  }
  return packet;
}

// Decodes SPS, PPS and the first IDR slice once to learn the picture size.
// False (size 0 x 0) when no picture comes out, or the decoder cannot open.
bool probe_picture_size(const ParameterSets& sets, const NalUnit* first_idr, int* width,
                        int* height) {
  *width = *height = 0;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) return false;
  CodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_open2(decoder.get(), codec, nullptr) < 0) return false;
  std::vector<const NalUnit*> units = {sets.sps, sets.pps};
  if (first_idr) units.push_back(first_idr);
  PacketPtr packet = make_probe_packet(units);
  if (!packet) return false;
  avcodec_send_packet(decoder.get(), packet.get());
  FramePtr frame(av_frame_alloc());
  if (!frame) return false;
  int result = avcodec_receive_frame(decoder.get(), frame.get());
  if (result == AVERROR(EAGAIN)) {
    // A decoder that holds the picture back for reordering gives it up on drain.
    avcodec_send_packet(decoder.get(), nullptr);
    result = avcodec_receive_frame(decoder.get(), frame.get());
  }
  if (result < 0) return false;
  *width = frame->width;
  *height = frame->height;
  return *width > 0 && *height > 0;
}

// One video stream described by the decoder configuration record; the
// stream's time base starts as 1/F.
bool add_video_stream(AVFormatContext* output, const std::vector<uint8_t>& record, int width,
                      int height, int frame_rate) {
  AVStream* stream = avformat_new_stream(output, nullptr);
  if (!stream) return false;
  AVCodecParameters* parameters = stream->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = AV_CODEC_ID_H264;
  parameters->codec_tag = 0;
  parameters->width = width;
  parameters->height = height;
  parameters->format = AV_PIX_FMT_YUV420P;
  stream->time_base = AVRational{1, frame_rate};
  auto* extradata =
      static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!extradata) return false;
  std::copy(record.begin(), record.end(), extradata);
  parameters->extradata = extradata;
  parameters->extradata_size = static_cast<int>(record.size());
  return true;
}

bool io_failed(const AVFormatContext* output) { return output->pb && output->pb->error < 0; }

// One sample per slice, timestamps from the frame number alone. False as soon
// as a packet cannot be made or written: a sample left out would break every
// picture that refers to it.
bool write_samples(AVFormatContext* output, const Recording& recording, int frame_rate,
                   const ProgressCallback& progress) {
  const AVRational source = {1, frame_rate};
  const AVRational target = output->streams[0]->time_base;
  const int64_t count = static_cast<int64_t>(recording.frames.size());
  for (int64_t i = 0; i < count; ++i) {
    const NalUnit& unit = recording.units[static_cast<size_t>(recording.frames[i])];
    PacketPtr packet(av_packet_alloc());
    if (!packet || unit.size > INT32_MAX - 4 || av_new_packet(packet.get(), unit.size + 4) < 0) {
      return false;
    }
    write_length_prefixed(unit.data, static_cast<uint32_t>(unit.size), packet->data);
    packet->pts = av_rescale_q(i, source, target);
    packet->dts = av_rescale_q(i, source, target);
    packet->duration = av_rescale_q(1, source, target);
    packet->stream_index = 0;
    if (unit.type == 5) packet->flags |= AV_PKT_FLAG_KEY;
    if (av_interleaved_write_frame(output, packet.get()) < 0 || io_failed(output)) return false;
    if (progress && reports_progress_at(i, count)) {
      progress(static_cast<float>(i + 1) / static_cast<float>(count));
    }
  }
  return true;
}

// Trailer written, every byte flushed and the file closed without error.
bool finish_output(AVFormatContext* output) {
  bool ok = av_write_trailer(output) >= 0 && !io_failed(output);
  if (!(output->oformat->flags & AVFMT_NOFILE) && avio_closep(&output->pb) < 0) ok = false;
  return ok;
}

// The same file under two names (or the input itself as output) would have the
// recording replaced by its own conversion.
bool names_the_input(const std::string& input_path, const std::string& output_path) {
  std::error_code error;
  return std::filesystem::equivalent(file_system_path(input_path), file_system_path(output_path),
                                     error) &&
         !error;
}

}  // namespace

bool remux_to_mp4(const std::string& input_path, const std::string& output_path,
                  ProgressCallback progress, bool print_frame_rate) {
  if (names_the_input(input_path, output_path)) return false;
  Recording recording;
  if (read_recording_payload(input_path, recording) != LoadStatus::ok) return false;
  recording.units = index_nal_units(recording.payload(), recording.length);
  const ParameterSets sets = find_parameter_sets(recording.units);
  if (!sets.sps || !sets.pps) return false;
  int width = 0;
  int height = 0;
  if (!probe_picture_size(sets, find_first_idr(recording.units), &width, &height)) return false;
  const std::vector<uint8_t> record = build_avc_config(*sets.sps, *sets.pps);
  if (record.empty()) return false;
  recording.frames = build_frame_list(recording.units);
  if (recording.frames.empty()) return false;
  const int64_t frame_count = static_cast<int64_t>(recording.frames.size());
  const double rate =
      print_frame_rate ? detect_frame_rate(recording.payload(), recording.length, frame_count)
                       : estimate_frame_rate(recording.payload(), recording.length, frame_count,
                                             nullptr);
  const int frame_rate = whole_frame_rate(rate > 0.0 ? rate : kDefaultFrameRate);

  TemporaryFile temporary{create_temporary_beside(output_path)};
  if (temporary.path.empty()) return false;
  AVFormatContext* raw_output = nullptr;
  if (avformat_alloc_output_context2(&raw_output, nullptr, "mp4", temporary.path.c_str()) < 0 ||
      !raw_output) {
    return false;
  }
  OutputContextPtr output(raw_output);
  if (!add_video_stream(output.get(), record, width, height, frame_rate)) return false;
  if (!(output->oformat->flags & AVFMT_NOFILE) &&
      avio_open(&output->pb, utf8_path(temporary.path).c_str(), AVIO_FLAG_WRITE) < 0) {
    return false;
  }
  if (avformat_write_header(output.get(), nullptr) < 0 || io_failed(output.get())) return false;
  if (!write_samples(output.get(), recording, frame_rate, progress)) return false;
  if (!finish_output(output.get())) return false;
  output.reset();

  std::error_code error;
  std::filesystem::rename(file_system_path(temporary.path), file_system_path(output_path), error);
  if (error) return false;
  temporary.path.clear();  // now the target: keep it
  if (progress) progress(1.0f);
  return true;
}

std::string mp4_output_path(const std::string& input_path) {
  const size_t name_start = input_path.find_last_of("/\\");
  const size_t dot = input_path.rfind('.');
  const bool dot_in_name = dot != std::string::npos &&
                           (name_start == std::string::npos || dot > name_start);
  return (dot_in_name ? input_path.substr(0, dot) : input_path) + ".mp4";
}
