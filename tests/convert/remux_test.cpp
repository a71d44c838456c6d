// Made recordings converted to MP4 and checked with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "convert/avc_config.h"
#include "convert/remux.h"
#include "convert_fixtures.h"
#include "media_probe.h"

namespace {

bool contains(const NalUnit& unit, const char* text) {
  const auto* end = unit.data + unit.size;
  return std::search(unit.data, end, text, text + std::strlen(text)) != end;
}

struct Kind {
  const char* name;
  RecordingSpec recipe;
  double frame_rate;  // the detected rate, which the last sample lasts one interval of
};

RecordingSpec spec_with(void (*change)(RecordingSpec&)) {
  RecordingSpec recipe;
  recipe.width = 176;
  recipe.height = 144;
  change(recipe);
  return recipe;
}

const Kind kKinds[] = {
    {"plain", spec_with([](RecordingSpec& s) { s.gop = 20; }), 25},
    {"mid_group", spec_with([](RecordingSpec& s) { s.mid_gop = 7; s.gop = 20; }), 25},
    {"full_range", spec_with([](RecordingSpec& s) { s.full_range = true; }), 25},
    {"fps_12_5", spec_with([](RecordingSpec& s) { s.fps = 12.5; s.width = 320; s.height = 240; }), 12.5},
    {"sound_in_slices", spec_with([](RecordingSpec& s) { s.audio = true; }), 25},
    {"no_block_headers", spec_with([](RecordingSpec& s) { s.no_hxvf = true; }), 15},
};

// Test names and failure messages show the row's name, not its bytes.
void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

class Converted : public ::testing::TestWithParam<Kind> {};

int64_t ticks(double seconds) { return std::llround(seconds * 90000); }

// A picture's sample: the parameter sets and SEI since the slice before it,
// then the slice, each behind a 4-byte length.
int64_t expected_sample_size(const Recording& r, size_t frame) {
  const int64_t slice = r.frames[frame];
  int64_t size = 4 + r.units[static_cast<size_t>(slice)].size;
  for (int64_t u = slice - 1; u >= 0; --u) {
    const NalUnit& unit = r.units[static_cast<size_t>(u)];
    if (unit.type == 1 || unit.type == 5) break;
    if (unit.type >= 6 && unit.type <= 8) size += 4 + unit.size;
  }
  return size;
}

TEST_P(Converted, ToolsSeeEveryPictureAtItsOwnTimeWithItsParameterSets) {
  const Kind& kind = GetParam();
  const std::string folder = fresh_folder(kind.name);
  const std::string input = make_recording_file(kind.recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const Recording recording = load_quietly(input);
  ASSERT_FALSE(recording.frames.empty());
  const std::string output = folder + "/rec.mp4";
  ASSERT_TRUE(remux_to_mp4(input, output, {}));

  const int64_t frames = static_cast<int64_t>(recording.frames.size());
  const StreamFacts facts = probe_streams(output);
  EXPECT_EQ(facts.stream_count, kind.recipe.audio ? 2 : 1);
  EXPECT_EQ(facts.codec_type, "video");
  EXPECT_EQ(facts.codec_name, "h264");
  EXPECT_EQ(facts.width, kind.recipe.width);
  EXPECT_EQ(facts.height, kind.recipe.height);
  // Pictures ahead of the first key picture cannot be decoded: they are left
  // out, and the first key picture is time 0.
  int64_t first_key = 0;
  while (first_key < frames &&
         recording.units[static_cast<size_t>(recording.frames[first_key])].type != 5) {
    ++first_key;
  }
  EXPECT_EQ(facts.frames_decoded, frames - first_key);
  EXPECT_EQ(facts.time_base_num, 1);
  EXPECT_EQ(facts.time_base_den, 90000);
  const double start = recording.frame_times[static_cast<size_t>(first_key)];
  const double end = recording.frame_times.back() + 1 / kind.frame_rate;
  EXPECT_EQ(facts.duration_ts, ticks(end - start));

  const std::vector<PacketFacts> packets = probe_packets(output);
  ASSERT_EQ(static_cast<int64_t>(packets.size()), frames - first_key);
  for (int64_t i = first_key; i < frames; ++i) {
    const NalUnit& unit = recording.units[static_cast<size_t>(recording.frames[i])];
    const PacketFacts& packet = packets[static_cast<size_t>(i - first_key)];
    SCOPED_TRACE("frame " + std::to_string(i));
    const double time = recording.frame_times[static_cast<size_t>(i)] - start;
    const double next =
        (i + 1 < frames ? recording.frame_times[static_cast<size_t>(i + 1)] : end) - start;
    EXPECT_EQ(packet.pts, ticks(time));
    EXPECT_EQ(packet.dts, ticks(time));
    EXPECT_EQ(packet.duration, ticks(next) - ticks(time));
    EXPECT_EQ(packet.key, unit.type == 5);
    EXPECT_EQ(packet.size, expected_sample_size(recording, static_cast<size_t>(i)));
  }

  const ParameterSets sets = find_parameter_sets(recording.units);
  ASSERT_TRUE(sets.sps && sets.pps);
  EXPECT_EQ(avcc_box_payload(output), build_avc_config(*sets.sps, *sets.pps));
  EXPECT_EQ(decode_errors(output), "");
  EXPECT_TRUE(temporaries_in(folder).empty());
}

TEST(ConvertedKinds, TheMadeRecordingsHaveWhatTheRowsClaim) {
  // Guards the rows above: a maker change must not quietly drop what they test.
  const Recording mid = load_quietly(make_recording_file(kKinds[1].recipe, fresh_folder("mid") + "/r.264"));
  ASSERT_FALSE(mid.frames.empty());
  EXPECT_EQ(mid.units[static_cast<size_t>(mid.frames[0])].type, 1);
  // Sound blocks sit between the slices, and no slice keeps any of their bytes.
  const Recording sound = load_quietly(make_recording_file(kKinds[4].recipe, fresh_folder("snd") + "/r.264"));
  EXPECT_GT(index_audio_blocks(sound.payload(), sound.length).size(), 10u);
  int slices_with_sound = 0;
  for (int64_t k : sound.frames) slices_with_sound += contains(sound.units[static_cast<size_t>(k)], "HXAF");
  EXPECT_EQ(slices_with_sound, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Converted, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RemuxProgress, RisesWithinZeroToOneAndEndsAtOneOnce) {
  for (int frames : {1, 31, 62}) {
    RecordingSpec recipe;
    recipe.width = 128;
    recipe.height = 96;
    recipe.frames = frames;
    const std::string folder = fresh_folder("progress");
    const std::string input = make_recording_file(recipe, folder + "/rec.264");
    ASSERT_FALSE(input.empty());
    ProgressLog log;
    ASSERT_TRUE(remux_to_mp4(input, folder + "/rec.mp4", log.callback()));
    ASSERT_GE(log.calls.size(), 2u) << frames;
    for (size_t i = 0; i < log.calls.size(); ++i) {
      EXPECT_GT(log.calls[i], 0.0f);
      EXPECT_EQ(log.calls[i] == 1.0f, i + 1 == log.calls.size()) << i;
      if (i > 0) {
        EXPECT_GE(log.calls[i], log.calls[i - 1]);
      }
    }
  }
}

// A converted recording, as the "earlier good MP4" the failure rows must keep.
const std::vector<uint8_t>& earlier_mp4() {
  static const std::vector<uint8_t> bytes = [] {
    RecordingSpec recipe;
    recipe.width = 128;
    recipe.height = 96;
    recipe.frames = 10;
    const std::string folder = fresh_folder("earlier");
    const std::string input = make_recording_file(recipe, folder + "/rec.264");
    remux_to_mp4(input, folder + "/rec.mp4", {});
    return read_file_bytes(folder + "/rec.mp4");
  }();
  return bytes;
}

const Recording& source_recording() {
  static const Recording recording = [] {
    RecordingSpec recipe;
    recipe.width = 176;
    recipe.height = 144;
    recipe.gop = 10;
    return load_quietly(make_recording_file(recipe, fresh_folder("source") + "/rec.264"));
  }();
  return recording;
}

TEST(RemuxFailure, EveryFailureKeepsTheEarlierMp4AndLeavesNoTemporary) {
  struct Row {
    const char* name;
    std::function<bool(const std::string& input)> make;  // false: could not set up
  };
  const auto filtered = [](std::function<bool(int)> keep) {
    return [keep](const std::string& input) {
      return write_filtered_recording(source_recording(), keep, input);
    };
  };
  const Row rows[] = {
      {"missing input", [](const std::string&) { return true; }},
      {"32-byte file", [](const std::string& in) { return write_bytes(in, std::vector<uint8_t>(32, 0)); }},
      {"33-byte file", [](const std::string& in) { return write_bytes(in, std::vector<uint8_t>(33, 0)); }},
      {"no start code", [](const std::string& in) { return write_bytes(in, std::vector<uint8_t>(5000, 0xFF)); }},
      {"no SPS", filtered([](int type) { return type != 7; })},
      {"no PPS", filtered([](int type) { return type != 8; })},
      {"no IDR slice", filtered([](int type) { return type != 5; })},
      {"no slices", filtered([](int type) { return type != 1 && type != 5; })},
      {"SPS too short for profile and level", [](const std::string& in) {
         const uint8_t stream[] = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 0, 1, 0x65, 0x88};
         std::vector<uint8_t> bytes(kFileHeaderSize + sizeof stream, 0);
         std::memcpy(bytes.data() + kFileHeaderSize, stream, sizeof stream);
         return write_bytes(in, bytes);
       }},
  };
  ASSERT_FALSE(source_recording().frames.empty());
  ASSERT_FALSE(earlier_mp4().empty());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = fresh_folder("failure");
    const std::string input = folder + "/rec.264";
    const std::string output = folder + "/rec.mp4";
    ASSERT_TRUE(row.make(input));
    ASSERT_TRUE(write_bytes(output, earlier_mp4()));
    ProgressLog log;
    EXPECT_FALSE(remux_to_mp4(input, output, log.callback()));
    EXPECT_TRUE(log.calls.empty());
    EXPECT_TRUE(read_file_bytes(output) == earlier_mp4()) << "the earlier MP4 changed";
    EXPECT_TRUE(temporaries_in(folder).empty());
  }
}

TEST(RemuxFailure, OutputThatCannotBeCreatedOrNamesTheInput) {
  const std::string folder = fresh_folder("bad-output");
  const std::string input = folder + "/rec.264";
  ASSERT_TRUE(write_filtered_recording(source_recording(), [](int) { return true; }, input));
  // Sanity: this recording converts.
  ASSERT_TRUE(remux_to_mp4(input, folder + "/ok.mp4", {}));

  EXPECT_FALSE(remux_to_mp4(input, folder + "/no/such/folder/rec.mp4", {}));
  EXPECT_FALSE(std::filesystem::exists(folder + "/no"));

  // A folder where the MP4 should go stays a folder.
  std::filesystem::create_directory(folder + "/taken.mp4");
  ASSERT_TRUE(write_bytes(folder + "/taken.mp4/inside", {1, 2, 3}));
  EXPECT_FALSE(remux_to_mp4(input, folder + "/taken.mp4", {}));
  EXPECT_EQ(read_file_bytes(folder + "/taken.mp4/inside"), (std::vector<uint8_t>{1, 2, 3}));

  // A recording named like its own output is not replaced by its conversion.
  const std::string named_mp4 = folder + "/camera.mp4";
  std::filesystem::copy_file(input, named_mp4);
  const std::vector<uint8_t> before = read_file_bytes(named_mp4);
  EXPECT_EQ(mp4_output_path(named_mp4), named_mp4);
  EXPECT_FALSE(remux_to_mp4(named_mp4, mp4_output_path(named_mp4), {}));
  EXPECT_TRUE(read_file_bytes(named_mp4) == before) << "the recording changed";
  EXPECT_TRUE(temporaries_in(folder).empty());
}

TEST(RemuxOutput, ReplacesAnExistingFileAndIsMp4WhateverTheName) {
  const std::string folder = fresh_folder("replace");
  const std::string input = folder + "/rec.264";
  ASSERT_TRUE(write_filtered_recording(source_recording(), [](int) { return true; }, input));
  const std::string output = folder + "/old.dat";
  ASSERT_TRUE(write_bytes(output, std::vector<uint8_t>(100000, 0x55)));
  ASSERT_TRUE(remux_to_mp4(input, output, {}));
  const StreamFacts facts = probe_streams(output);
  EXPECT_NE(facts.format_name.find("mp4"), std::string::npos);
  EXPECT_EQ(facts.major_brand, "isom");
  EXPECT_EQ(facts.frames_decoded, static_cast<int64_t>(source_recording().frames.size()));
  EXPECT_TRUE(temporaries_in(folder).empty());
}

TEST(RemuxOutput, RecordingsWithLongNamesConvertAndLeaveNoTemporary) {
  // Names up to the common 255-byte limit: the MP4's name is as long as the
  // recording's, and the temporary beside it must not be longer.
  for (size_t length : {size_t{240}, size_t{255}}) {
    SCOPED_TRACE(std::to_string(length) + "-byte name");
    const std::string folder = fresh_folder("long-name");
    const std::string input = folder + "/" + std::string(length - 4, 'r') + ".264";
    ASSERT_TRUE(write_filtered_recording(source_recording(), [](int) { return true; }, input));
    const std::string output = mp4_output_path(input);
    ASSERT_TRUE(remux_to_mp4(input, output, {}, false));
    const StreamFacts facts = probe_streams(output);
    EXPECT_EQ(facts.frames_decoded, static_cast<int64_t>(source_recording().frames.size()));
    EXPECT_TRUE(temporaries_in(folder).empty());
  }
}

// Runs a conversion in a child process set up by `prepare` (which returns false
// when it cannot); the child's conversion result, or -1 if it did not finish.
int convert_in_child(const std::string& input, const std::string& output,
                     const std::function<bool()>& prepare) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!prepare()) _exit(2);
    _exit(remux_to_mp4(input, output, {}, false) ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(RemuxFailure, FullDiskKeepsTheEarlierMp4) {
  RecordingSpec recipe;
  recipe.width = 320;
  recipe.height = 240;
  recipe.duration_s = 3;
  const std::string folder = fresh_folder("full-disk");
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const auto input_size = static_cast<rlim_t>(std::filesystem::file_size(input));
  ASSERT_GT(input_size, 100000u) << "the recording must outgrow the muxer's write buffer";
  const std::string output = folder + "/rec.mp4";
  // Room for nothing, for the header only, and for half of the samples.
  for (rlim_t limit : {rlim_t{0}, rlim_t{4096}, input_size / 2}) {
    SCOPED_TRACE(limit);
    ASSERT_TRUE(write_bytes(output, earlier_mp4()));
    const int result = convert_in_child(input, output, [limit] {
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      const rlimit fsize = {limit, limit};
      return setrlimit(RLIMIT_FSIZE, &fsize) == 0;
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(read_file_bytes(output) == earlier_mp4()) << "the earlier MP4 changed";
    EXPECT_TRUE(temporaries_in(folder).empty());
  }
  // Without a limit the same conversion succeeds.
  EXPECT_EQ(convert_in_child(input, output, [] { return true; }), 0);
  EXPECT_FALSE(read_file_bytes(output) == earlier_mp4());
}

TEST(RemuxFailure, UnwritableFolderKeepsTheEarlierMp4) {
  // Root writes anywhere, so the child gives up root first; the folder tree is
  // made readable for it.
  char pattern[] = "/tmp/convert-unwritable-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string top = pattern;
  const std::string locked = top + "/locked";
  ASSERT_EQ(chmod(top.c_str(), 0755), 0);
  ASSERT_TRUE(std::filesystem::create_directory(locked));
  const std::string input = locked + "/rec.264";
  const std::string output = locked + "/rec.mp4";
  ASSERT_TRUE(write_filtered_recording(source_recording(), [](int) { return true; }, input));
  ASSERT_TRUE(write_bytes(output, earlier_mp4()));
  // The earlier MP4 itself stays writable: the conversion must not write over it in place.
  ASSERT_EQ(chmod(output.c_str(), 0666), 0);
  ASSERT_EQ(chmod(input.c_str(), 0644), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);

  const int result = convert_in_child(input, output, [] {
    if (geteuid() != 0) return true;
    return setgid(65534) == 0 && setuid(65534) == 0;
  });
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(read_file_bytes(output) == earlier_mp4()) << "the earlier MP4 changed";
  EXPECT_TRUE(temporaries_in(locked).empty());

  chmod(locked.c_str(), 0755);
  std::error_code ignored;
  std::filesystem::remove_all(top, ignored);
}

}  // namespace
