// What a conversion keeps of the recording and what it leaves out: the sound
// wherever the camera put it, every picture that can be decoded from the first
// key frame on, the sound's clock when the pictures have none, and stretches
// without start codes (erased flash) or units stuffed with headers, which are
// handled in bounded time and memory and said in the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "convert/remux.h"
#include "convert_fixtures.h"
#include "media_probe.h"

namespace {

const std::string kTools = H264_TOOLS_DIR;

// Where a test can run a program under an address-space limit: a POSIX
// shell's ulimit, and no sanitizer reserving more than any such limit.
#ifdef _WIN32
constexpr bool kLimitsAddressSpace = false;
#else
constexpr bool kLimitsAddressSpace = !kAddressSanitizer;
#endif

RemuxResult convert_quietly(const std::string& input, const std::string& output,
                            bool sound = true) {
  RemuxOptions options;
  options.print_frame_rate = false;
  options.sound = sound;
  return convert_to_mp4(input, output, {}, options);
}

double video_seconds(const std::string& mp4) { return probe_streams(mp4).duration_ts / 90000.0; }

// A camera's picture: 1280x720 with sensor noise at 4 Mbit/s.
RecordingSpec camera_recipe(double seconds) {
  RecordingSpec recipe;
  recipe.width = 1280;
  recipe.height = 720;
  recipe.duration_s = seconds;
  recipe.extra_args = {"--noise", "12", "--bitrate", "4000"};
  return recipe;
}

// The frame number painted into the first picture ffmpeg decodes.
int first_decoded_frame_number(const std::string& mp4, int width, int height) {
  const std::string gray = mp4 + ".first.gray";
  run_command("ffmpeg -nostdin -v error -y -i " + shell_quoted(mp4) +
              " -frames:v 1 -f rawvideo -pix_fmt gray " + shell_quoted(gray));
  const std::vector<uint8_t> pixels = read_file_bytes(gray);
  std::filesystem::remove(gray);
  if (pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) return -1;
  return read_frame_number([&](int x, int y) { return pixels[static_cast<size_t>(y * width + x)]; },
                           width, height);
}

// The camera's two orders give the same MP4 sound: same samples at the same
// times, from the first picture to the end of the last; a camera-sized
// recording with its sound after the pictures keeps it too.
TEST(KeptSound, BeforeOrAfterItsPictureTheSoundIsKeptAndInStep) {
  const struct {
    const char* name;
    RecordingSpec recipe;
  } rows[] = {
      {"before", {}},
      {"after", {}},
      {"720p noisy, after", camera_recipe(3)},
  };
  std::vector<std::vector<int16_t>> sounds;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingSpec recipe = row.recipe;
    recipe.audio = true;
    if (std::string(row.name) != "before") recipe.extra_args.push_back("--sound-after");
    const std::string folder = fresh_folder("sound-order");
    const std::string input = make_recording_file(recipe, folder + "/rec.264");
    ASSERT_FALSE(input.empty());
    const RemuxResult result = convert_quietly(input, folder + "/rec.mp4");
    ASSERT_TRUE(result.succeeded) << result.reason;
    EXPECT_TRUE(result.recording_has_sound);
    EXPECT_TRUE(result.mp4_has_sound);
    EXPECT_EQ(remux_notes(result), "");
    const SoundFacts sound = probe_sound(folder + "/rec.mp4");
    ASSERT_TRUE(sound.present);
    EXPECT_NEAR(sound.start_s, 0.0, 1e-4);
    EXPECT_NEAR(sound.duration_s, video_seconds(folder + "/rec.mp4"), 0.13);  // one AAC frame
    if (row.recipe.width == 320) sounds.push_back(decoded_sound(folder + "/rec.mp4"));
  }
  ASSERT_EQ(sounds.size(), 2u);
  EXPECT_GT(sounds[0].size(), 8000u);
  EXPECT_EQ(sounds[0], sounds[1]) << "the order of the blocks changed the sound";
}

// Sound that starts only after several megabytes of pictures without any (a
// camera whose microphone came on late) is still found and kept at its time;
// leaving it out on request says so.
TEST(KeptSound, SoundFirstMetFarIntoTheRecordingIsKept) {
  const std::string folder = fresh_folder("late-sound");
  RecordingSpec silent;
  silent.width = 640;
  silent.height = 360;
  silent.duration_s = 10;
  silent.extra_args = {"--noise", "20", "--bitrate", "8000"};
  RecordingSpec sounding = silent;
  sounding.duration_s = 2;
  sounding.first_ts = 11000;  // the camera's clock runs on
  sounding.audio = true;
  const std::string first = make_recording_file(silent, folder + "/silent.264");
  const std::string second = make_recording_file(sounding, folder + "/sounding.264");
  ASSERT_FALSE(first.empty() || second.empty());
  std::vector<uint8_t> joined = read_file_bytes(first);
  const std::vector<uint8_t> tail = read_file_bytes(second);
  ASSERT_GT(joined.size(), size_t{9} << 20) << "the sound must start past the first pieces read";
  joined.insert(joined.end(), tail.begin() + static_cast<long>(kFileHeaderSize), tail.end());
  const std::string input = folder + "/late.264";
  ASSERT_TRUE(write_bytes(input, joined));

  RemuxResult result = convert_quietly(input, folder + "/late.mp4");
  ASSERT_TRUE(result.succeeded) << result.reason;
  EXPECT_TRUE(result.mp4_has_sound);
  const std::vector<int16_t> heard = decoded_sound_on_timeline(folder + "/late.mp4");
  const auto first_loud =
      std::find_if(heard.begin(), heard.end(), [](int16_t s) { return std::abs(s) > 1000; });
  ASSERT_NE(first_loud, heard.end());
  EXPECT_NEAR((first_loud - heard.begin()) / 8000.0, 10.0, 1e-3);
  EXPECT_NEAR(heard.size() / 8000.0, video_seconds(folder + "/late.mp4"), 0.13);

  result = convert_quietly(input, folder + "/late.mp4", false);
  ASSERT_TRUE(result.succeeded) << result.reason;
  EXPECT_FALSE(result.mp4_has_sound);
  EXPECT_FALSE(probe_sound(folder + "/late.mp4").present);
  EXPECT_EQ(remux_notes(result), "replaced the existing file; without its sound, as asked");
}

// A recording that starts inside a group: the MP4 starts at its first key
// frame, at time 0, and every sample decodes; the sound before that frame goes
// with the pictures left out, the rest stays in step.
TEST(KeyFrameStart, ARecordingStartingMidGroupGivesAnMp4WhoseEverySampleDecodes) {
  RecordingSpec recipe = camera_recipe(3);
  recipe.gop = 25;
  recipe.mid_gop = 10;  // frames 0..14 lead up to the key frame 15
  recipe.audio = true;
  recipe.extra_args.push_back("--sound-after");
  const std::string folder = fresh_folder("mid-group");
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const std::string output = folder + "/rec.mp4";
  const RemuxResult result = convert_quietly(input, output);
  ASSERT_TRUE(result.succeeded) << result.reason;
  EXPECT_EQ(result.pictures_before_first_key, 15);
  EXPECT_EQ(result.pictures, 60);
  EXPECT_EQ(remux_notes(result), "15 pictures before the first key frame left out");

  const std::vector<PacketFacts> packets = probe_packets(output);
  ASSERT_EQ(packets.size(), 60u);
  EXPECT_TRUE(packets[0].key);
  EXPECT_EQ(packets[0].pts, 0);
  EXPECT_EQ(probe_streams(output).frames_decoded, 60);
  EXPECT_EQ(decode_errors(output), "");
  EXPECT_EQ(first_decoded_frame_number(output, 1280, 720), 15);
  const SoundFacts sound = probe_sound(output);
  ASSERT_TRUE(sound.present);
  EXPECT_NEAR(sound.start_s, 0.0, 1e-3);
  EXPECT_NEAR(sound.duration_s, 60 / 25.0, 0.13);
}

// Without picture headers the sound's span sets the rate: the pictures last
// as long as the sound, in the MP4 and in the player.
TEST(SoundClock, WithoutPictureHeadersThePicturesLastAsLongAsTheSound) {
  RecordingSpec recipe;
  recipe.fps = 20;
  recipe.duration_s = 10;
  recipe.no_hxvf = true;
  recipe.audio = true;
  const std::string folder = fresh_folder("sound-clock");
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const Recording recording = load_quietly(input);
  EXPECT_DOUBLE_EQ(recording.fps, 20.0);
  EXPECT_NEAR(recording_duration(recording), 10.0, 0.05);

  const std::string output = folder + "/rec.mp4";
  const RemuxResult result = convert_quietly(input, output);
  ASSERT_TRUE(result.succeeded) << result.reason;
  const SoundFacts sound = probe_sound(output);
  ASSERT_TRUE(sound.present);
  EXPECT_NEAR(video_seconds(output), 10.0, 0.05);
  EXPECT_NEAR(sound.duration_s, video_seconds(output), 0.13);
}

// 128 MiB of erased flash after a picture of a camera-sized recording: the
// converter skips it (never carrying it from piece to piece, so it fits in
// an address space the old growing buffer overran), keeps every picture that
// decodes and all the sound, and says what it skipped. The player leaves
// the damaged unit out and says so too.
TEST(BoundedWork, AStretchOfErasedFlashIsSkippedAndReportedNotCarried) {
  RecordingSpec recipe = camera_recipe(4);
  recipe.gop = 25;
  recipe.audio = true;
  recipe.extra_args.insert(recipe.extra_args.end(),
                           {"--sound-after", "--erased", std::to_string(128 << 20), "--erased-after", "30"});
  const std::string folder = fresh_folder("erased");
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const uintmax_t input_size = std::filesystem::file_size(input);
  const std::string output = folder + "/rec.mp4";

  std::string printed;
  if (kLimitsAddressSpace) {
    int status = -1;
    printed = run_command("ulimit -v 300000; " + kTools + "/convert_mp4 --quiet " + shell_quoted(input),
                          &status);
    EXPECT_EQ(status, 0) << printed;
  } else {  // no limit to set: the conversion runs here, unlimited
    printed = remux_result_line(input, output, convert_quietly(input, output));
  }
  EXPECT_NE(printed.find("OK  " + input + " -> " + output + "  (skipped "), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("bytes without a start code at offset "), std::string::npos) << printed;
  // Picture 30 went with the stretch; 31..49 wait for the key frame 50.
  EXPECT_NE(printed.find("; 19 pictures after it left out up to the next key frame)"),
            std::string::npos)
      << printed;
  EXPECT_LT(std::filesystem::file_size(output), input_size - (uintmax_t{128} << 20));
  EXPECT_EQ(probe_streams(output).frames_decoded, 80);
  EXPECT_EQ(decode_errors(output), "");
  EXPECT_NEAR(probe_sound(output).duration_s, 4.0, 0.13);

  testing::internal::CaptureStdout();
  Recording recording;
  ASSERT_TRUE(load_recording(input, recording));
  const std::string loaded = testing::internal::GetCapturedStdout();
  EXPECT_EQ(recording.frames.size(), 99u);
  ASSERT_EQ(recording.skipped.size(), 1u);
  EXPECT_GT(recording.skipped[0].size, int64_t{128} << 20);
  EXPECT_NE(loaded.find(skipped_stretch_message(recording.skipped[0])), std::string::npos) << loaded;
  EXPECT_EQ(recording.sound.size(), index_audio_blocks(recording.payload(), recording.length).size());
  std::filesystem::remove(input);
}

// A unit stuffed with 200000 block headers (3 MB of them) loads and converts
// whole: every picture is there and the stuffed one keeps its bytes. Walking
// the run once per header, as before, took minutes here.
TEST(BoundedWork, AUnitStuffedWithHeadersLoadsAndConvertsWhole) {
  RecordingSpec recipe;
  recipe.extra_args = {"--header-run", "200000", "--header-run-at", "10"};
  const std::string folder = fresh_folder("stuffed");
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const Recording recording = load_quietly(input);
  ASSERT_EQ(recording.frames.size(), 50u);
  const NalUnit& stuffed = recording.units[static_cast<size_t>(recording.frames[10])];
  EXPECT_GT(stuffed.size, 200000 * 16);

  const RemuxResult result = convert_quietly(input, folder + "/rec.mp4");
  ASSERT_TRUE(result.succeeded) << result.reason;
  EXPECT_EQ(result.pictures, 50);
  const std::vector<PacketFacts> packets = probe_packets(folder + "/rec.mp4");
  ASSERT_EQ(packets.size(), 50u);
  EXPECT_GT(packets[10].size, 200000 * 16);
}

// Cancel is looked at in the first pass too: set before the start, it ends
// the conversion as cancelled even where that pass would fail on its own
// (no parameter sets); set halfway through writing, it stops there. Neither
// leaves an MP4 or a temporary.
TEST(BoundedWork, CancelActsInBothPasses) {
  const std::string folder = fresh_folder("cancel");
  RecordingSpec recipe;  // 12 MB: progress comes after the first piece read
  recipe.width = 640;
  recipe.height = 360;
  recipe.duration_s = 12;
  recipe.extra_args = {"--noise", "20", "--bitrate", "8000"};
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const std::string slices_only = folder + "/slices.264";
  ASSERT_TRUE(write_filtered_recording(load_quietly(input), [](int type) { return type == 1 || type == 5; },
                                       slices_only));
  std::atomic<bool> cancel{true};
  RemuxOptions options;
  options.print_frame_rate = false;
  options.cancel = &cancel;
  RemuxResult result = convert_to_mp4(slices_only, folder + "/slices.mp4", {}, options);
  EXPECT_FALSE(result.succeeded);
  EXPECT_EQ(result.reason, "cancelled");

  cancel = false;
  result = convert_to_mp4(input, folder + "/rec.mp4", [&cancel](float f) { if (f > 0.3f) cancel = true; },
                          options);
  EXPECT_FALSE(result.succeeded);
  EXPECT_EQ(result.reason, "cancelled");
  EXPECT_FALSE(std::filesystem::exists(folder + "/rec.mp4"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/slices.mp4"));
  EXPECT_TRUE(temporaries_in(folder).empty());
}

}  // namespace
