// In-memory view of a camera recording (.264): a 32-byte file header, then an
// Annex-B H.264 stream with the camera's "HXVF" video and "HXAF" audio block
// headers inserted at arbitrary byte positions.
//
// Every record points into the payload buffer and never copies media bytes, so
// the payload must outlive (and stay unchanged under) the indexes built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct NalUnit {
  const uint8_t* data;  // NAL header byte, just after the start code
  int32_t size;         // bytes up to the next start code or the payload end
  int32_t type;         // data[0] & 0x1F
};

// The sound's samples per second (G.711 A-law, mono).
constexpr int kSoundSampleRate = 8000;

// Per frame, what the index read from the slice's first bytes as it walked
// them (frame_kinds), so that measuring the whole recording later never
// touches the mapped pages again.
constexpr uint8_t kFrameStartsPicture = 1;  // first_mb_in_slice is 0 (frame 0 always counts)
constexpr uint8_t kFrameIntra = 2;          // an IDR or I/SI slice

struct AudioBlock {
  const uint8_t* data;  // first A-law sample, 20 bytes after the "HXAF" magic
  int32_t size;         // sample count: the length field minus 4
  uint32_t timestamp;   // milliseconds, same clock as "HXVF"
};

constexpr size_t kFileHeaderSize = 32;
constexpr size_t kBlockHeaderSize = 16;

// No unit grows past this, as on the live stream: a longer "unit" is a
// stretch without start codes (erased flash, a damaged copy), which no
// decoder takes and which would only carry junk into an MP4 sample.
constexpr size_t kMaxUnitBytes = size_t{16} << 20;

// Bytes of the payload left out because they belong to no usable unit.
struct SkippedStretch {
  int64_t offset;  // payload offset where the stretch starts
  int64_t size;
};

// Little-endian 32-bit read at any alignment.
uint32_t read_le32(const uint8_t* p);

// A unit runs up to the next start code, less the camera's headers and sound
// blocks that sit between it and that start code, and ends early at 00 00 00
// outside those blocks (which no unit holds: what follows is padding; the
// zeros of a block's own fields are not). Bytes 00 00 01 inside a
// block header or a valid sound block are not a start code. Stops after
// max_units + 1 units, so a caller can tell that the limit was passed. With
// block_starts, the positions of the camera blocks it walked go there in
// order (every "HXVF" or "HXAF" magic outside valid sound blocks, as the
// sound scan passes them).
std::vector<NalUnit> index_nal_units(const uint8_t* payload, size_t length,
                                     size_t max_units = SIZE_MAX,
                                     std::vector<size_t>* block_starts = nullptr);

// The most units a payload of `length` bytes may hold: one per 16 bytes (a
// camera writes at least a start code and a 16-byte header per picture),
// and never fewer than 4096. Keeps the index within the file's own size.
size_t unit_limit(size_t length);

// Next camera block at or after `from`: the position of an "HXVF" or "HXAF"
// magic with room for its header (SIZE_MAX when none) and, in *block_size,
// 16 + L for a valid sound block, else 16.
size_t next_camera_block(const uint8_t* payload, size_t length, size_t from, size_t* block_size);

// Valid blocks have a length field of 5..65535 that ends inside the payload;
// anything else is skipped one byte at a time.
std::vector<AudioBlock> index_audio_blocks(const uint8_t* payload, size_t length);

// Removes the units longer than kMaxUnitBytes from `units` and returns where
// they lay, in order (a unit of 2 GiB or more says 2 GiB - 1: its size
// saturates in the index; the loader's windows never hold one).
std::vector<SkippedStretch> take_oversized_units(std::vector<NalUnit>& units,
                                                 const uint8_t* payload);

// The line that reports a skipped stretch: "Skipped N bytes without a start
// code at offset X\n" (X counted from the file's start).
std::string skipped_stretch_message(const SkippedStretch& stretch);

// Positions in the unit list of the slice units (types 1 and 5), in order.
std::vector<int64_t> build_frame_list(const std::vector<NalUnit>& units);

// True when some slice does not start its picture (first_mb_in_slice != 0),
// i.e. pictures are cut into several slices. A slice header begins with
// first_mb_in_slice as an Exp-Golomb number, whose value 0 is the single bit 1.
bool has_split_pictures(const std::vector<NalUnit>& units);

// Timestamp of the first "HXVF" header; else the first audio block's; else 0.
uint32_t find_time_origin(const uint8_t* payload, size_t length,
                          const std::vector<AudioBlock>& audio_blocks);

// Position of the first / last "HXVF" magic at p with p + 16 <= length, or
// SIZE_MAX when there is none.
size_t find_first_hxvf(const uint8_t* payload, size_t length);
size_t find_last_hxvf(const uint8_t* payload, size_t length);

enum class LoadStatus {
  ok,
  cannot_open,
  too_small,
  cannot_read,
  cannot_map,
  no_nal_units,
  no_video_frames,
  too_many_units,
  out_of_memory
};

struct MappedFile;
struct IndexingJob;
// Stops the background indexing and waits for it (defined with the job).
struct IndexingJobStopper {
  void operator()(IndexingJob* job) const;
};

// A recording as the player and the tools see it: the file is mapped, never
// copied (its size is limited only by the address space), and units, frames
// and sound blocks point into the mapping. The index may still be growing
// in the background (open_recording): the vectors then hold what it reached
// so far and grow at absorb_index_progress, on the thread that owns them.
struct Recording {
  std::shared_ptr<const MappedFile> file;  // the whole file; the payload starts 32 bytes in
  size_t length = 0;                       // payload bytes
  std::vector<NalUnit> units;
  std::vector<int64_t> frames;
  std::vector<uint8_t> frame_kinds;  // per frame, kFrame* bits; empty when not indexed by the walk
  double fps = 15.0;  // estimated from the part indexed until the index is complete
  uint32_t time_origin = 0;
  std::vector<double> frame_times;  // per frame, seconds from the time origin
  double clock_rate = 15.0;         // the timestamps' own rate; the last picture lasts 1 / it
  std::vector<AudioBlock> sound;    // timestamps on the pictures' clock
  std::vector<SkippedStretch> skipped;  // oversized units left out of `units`

  int64_t indexed_bytes = 0;  // payload bytes the index covers, from the start
  bool has_end_header = false;  // an "HXVF" header lies near the payload's end:
  uint32_t end_header_ts = 0;   // the last one, for the duration before the index is complete
  bool index_complete = false;
  LoadStatus index_status = LoadStatus::ok;  // complete: why the index ended before the payload did
  std::unique_ptr<IndexingJob, IndexingJobStopper> indexing;  // while it grows

  const uint8_t* payload() const;
};

// Maps the file at `path` into `out` (file and length; nothing is read).
// Fails with cannot_open, too_small (32 bytes or less) or cannot_map (no
// room in the address space, or a file system that cannot map).
LoadStatus read_recording_payload(const std::string& path, Recording& out);

// The file player's loading sequence, whole: maps the file, indexes units
// and frames (units past kMaxUnitBytes are left out, each reported with a
// "Skipped" line), detects the frame rate (from the sound's time span when no
// picture has a header), builds the clock and prints "Loaded: ..." or the
// matching "Error: ..." line (running out of memory is one of them, never
// an abort). Returns false (with `out` emptied) on any failure; *status
// (when given) says which.
bool load_recording(const std::string& path, Recording& out, LoadStatus* status = nullptr);

// The same loading, returning as soon as the index holds a frame: the rest
// is indexed in the background (see absorb_index_progress). Prints the lines
// load_recording prints before "Loaded: ..." as far as the index reached;
// "Loaded: ..." waits for the end of the index (loaded_line). Fails as
// load_recording does, when the index ends without a unit or a frame.
bool open_recording(const std::string& path, Recording& out, LoadStatus* status = nullptr);

// Tells the background index that the first picture is up: it held back
// after the first frames (for half a second at most) so that decoding that
// picture had the machine to itself.
void release_index_hold(Recording& recording);

// What one absorb_index_progress call added.
struct IndexGrowth {
  size_t first_new_unit = 0, new_units = 0;    // units[first_new_unit...]
  size_t first_new_frame = 0, new_frames = 0;  // frames and frame_times
  size_t first_new_block = 0, new_blocks = 0;  // sound
  bool retimed = false;    // every frame time and sound timestamp changed (sound then holds every block)
  bool completed = false;  // the index became complete now
};

// Takes what the background index reached since the last call into the
// recording's vectors (the caller's thread must own them) and prints the
// lines that came with it. Does nothing once the index is complete.
IndexGrowth absorb_index_progress(Recording& recording);

// "Loaded: N bytes, N frames, F fps, ~Ds\n" for the recording as indexed.
std::string loaded_line(const Recording& recording);

// The recording's duration as far as it can be told now: exact once the
// index is complete; before, the span of the camera's timestamps up to the
// last header near the end of the file, or the indexed part's duration
// scaled to the whole payload, and never less than the indexed part's.
double estimated_duration(const Recording& recording);

// Time of the last indexed frame; 0 without frames.
double indexed_time(const Recording& recording);

// The line printed for a load failure (empty for ok).
std::string load_error_message(LoadStatus status, const std::string& path);

// The same failure in a few capital words for the window ("FILE IS EMPTY").
std::string load_error_caption(LoadStatus status);

// Seconds from the first picture's start to the last picture's end: the last
// frame's time plus one interval at the clock's rate; 0 without frames.
double recording_duration(const Recording& recording);
