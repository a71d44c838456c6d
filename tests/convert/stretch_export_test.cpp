// Exporting a stretch: the points a command line gives and where they fall in
// a folder's recordings, the names, the start found without reading the
// whole recording (checked against the player's index), and MP4s of one
// recording and across several checked with ffprobe and ffmpeg: duration,
// first picture, pictures continuous across the joins, sound in step.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>

#include "convert/stretch_export.h"
#include "convert/stretch_points.h"
#include "convert_fixtures.h"
#include "damaged_recordings.h"
#include "media_probe.h"
#include "player/engine.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(H264_TOOLS_DIR) + "/convert_mp4";

// ---- points and names ---------------------------------------------------

TEST(StretchPoints, SecondsOrTimesOfDayAndNothingElse) {
  const struct {
    const char* text;
    bool valid, time_of_day;
    double seconds;
  } rows[] = {
      {"0", true, false, 0},          {"95", true, false, 95},
      {"95.5", true, false, 95.5},    {"95.125", true, false, 95.125},
      {"08:04:12", true, true, 29052}, {"8:04:12.5", true, true, 29052.5},
      {"23:59:59", true, true, 86399}, {"00:00:00", true, true, 0},
      {"", false, false, 0}, {"-5", false, false, 0}, {"+5", false, false, 0}, {"1e3", false, false, 0},
      {"95.", false, false, 0}, {"95.1234", false, false, 0}, {".5", false, false, 0}, {"4:12", false, false, 0},
      {"24:00:00", false, false, 0}, {"08:60:00", false, false, 0}, {"08:00:60", false, false, 0}, {"08:4:12", false, false, 0},
      {"08:04:12x", false, false, 0}, {"5 ", false, false, 0}, {"five", false, false, 0}, {"08-04-12", false, false, 0},
  };
  for (const auto& r : rows) {
    const std::optional<StretchPoint> p = parse_stretch_point(r.text);
    ASSERT_EQ(p.has_value(), r.valid) << "'" << r.text << "'";
    if (!p) continue;
    EXPECT_EQ(p->time_of_day, r.time_of_day) << r.text;
    EXPECT_DOUBLE_EQ(p->seconds, r.seconds) << r.text;
  }
  EXPECT_EQ(describe_stretch_point({false, 95.5}), "95.5 s");
  EXPECT_EQ(describe_stretch_point({true, 29052.5}), "08:04:12.500");
}

TEST(StretchPoints, PlacedInTheFolderRecordingsByLengthOrByTheirNamedStarts) {
  const CivilTime eight{2026, 12, 1, 8, 0, 0, 0};
  const CivilTime eight_five{2026, 12, 1, 8, 5, 0, 0};
  const CivilTime eight_ten{2026, 12, 1, 8, 10, 30, 0};  // half a minute of gap before it
  const std::vector<ChainRecording> day = {{eight, 300}, {eight_five, 300}, {eight_ten, 300}};
  const std::vector<ChainRecording> unnamed = {{std::nullopt, 300}, {std::nullopt, 300}};
  const std::vector<ChainRecording> midnight = {{CivilTime{2026, 12, 1, 23, 58, 0, 0}, 300},
                                                {CivilTime{2026, 12, 2, 0, 3, 0, 0}, 300}};
  using O = PlaceOutcome;
  const struct {
    const char* what;
    const std::vector<ChainRecording>* chain;
    StretchPoint point;
    bool out;
    PlaceOutcome outcome;
    size_t recording;
    double seconds;
  } rows[] = {
      {"seconds in the first", &day, {false, 12.5}, false, O::placed, 0, 12.5},
      {"seconds run on into the next", &day, {false, 310}, false, O::placed, 1, 10},
      {"an in-point at a recording's end is the next one's start", &day, {false, 300}, false, O::placed, 1, 0},
      {"an out-point at a recording's end stays in it", &day, {false, 300}, true, O::placed, 0, 300},
      {"seconds past every recording", &unnamed, {false, 601}, true, O::past_the_end, 0, 0},
      {"a time of day in the first", &day, {true, 8 * 3600 + 12}, false, O::placed, 0, 12},
      {"a time of day in the second", &day, {true, 8 * 3600 + 6 * 60}, true, O::placed, 1, 60},
      {"an out-point in the gap: the end before it", &day, {true, 8 * 3600 + 10 * 60 + 10}, true, O::placed, 1, 300},
      {"an in-point in the gap: the start after it", &day, {true, 8 * 3600 + 10 * 60 + 10}, false, O::placed, 2, 0},
      {"before the first start", &day, {true, 7 * 3600 + 59 * 60}, false, O::before_start, 0, 0},
      {"after the last recording", &day, {true, 9 * 3600}, true, O::past_the_end, 0, 0},
      {"no start in the name", &unnamed, {true, 8 * 3600}, false, O::no_time_of_day, 0, 0},
      {"past midnight, on the next day", &midnight, {true, 60}, true, O::placed, 0, 180},
      {"into the recording after midnight", &midnight, {true, 4 * 60}, true, O::placed, 1, 60},
  };
  for (const auto& r : rows) {
    ChainPlace place;
    ASSERT_EQ(place_stretch_point(r.point, *r.chain, r.out, &place), r.outcome) << r.what;
    if (r.outcome != O::placed) continue;
    EXPECT_EQ(place.recording, r.recording) << r.what;
    EXPECT_NEAR(place.seconds, r.seconds, 1e-9) << r.what;
  }
  EXPECT_TRUE(place_before({0, 10}, {0, 11}));
  EXPECT_TRUE(place_before({0, 290}, {1, 1}));
  EXPECT_FALSE(place_before({1, 1}, {1, 1}));
}

TEST(StretchNames, RecordingAndTimesOfDayOrTheTimesInTheRecordings) {
  RecordingStart named;
  named.source = StartSource::file_name;
  named.start = {2026, 12, 1, 23, 58, 0, 0};
  RecordingStart next = named;
  next.start = {2026, 12, 2, 0, 3, 0, 0};
  const RecordingStart unknown;
  EXPECT_EQ(stretch_file_name("/cam/20261201_235800.264", named, 12.7, named, 42.2),
            "20261201_235800_20261201_235812-235842.mp4");
  EXPECT_EQ(stretch_file_name("/cam/20261201_235800.264", named, 250, next, 30),
            "20261201_235800_20261202_000210-000330.mp4");
  EXPECT_EQ(stretch_file_name("/cam/20261201_235800.264", named, 12.7, next, 30),
            "20261201_235800_20261201_235812-20261202_000330.mp4");
  EXPECT_EQ(stretch_file_name("c:\\cam\\front door?.264", unknown, 3725, unknown, 3790.5),
            "front door__t010205-t010310.mp4");
}

// ---- the start, found as the player's index has it ----------------------

// The player's start for an in-point: the key picture at or before it, and
// the end of the slice before that picture.
StretchStart index_start(const Recording& rec, double in_s) {
  int k = 0;
  for (size_t f = 0; f < rec.frames.size() && rec.frame_times[f] <= in_s + 1e-9; ++f) {
    const NalUnit& u = rec.units[static_cast<size_t>(rec.frames[f])];
    if (u.type == 5 && (u.size < 2 || (u.data[1] & 0x80))) k = static_cast<int>(f);
  }
  auto unit = static_cast<size_t>(rec.frames[static_cast<size_t>(k)]);
  while (unit > 0 && rec.units[unit - 1].type != 1 && rec.units[unit - 1].type != 5) --unit;
  StretchStart s;
  if (unit > 0) s.offset = rec.units[unit - 1].data + rec.units[unit - 1].size - rec.payload();
  s.time_s = rec.frame_times[static_cast<size_t>(k)];
  return s;
}

TEST(StretchStartSearch, FindsTheKeyPictureThePlayersIndexFinds) {
  const std::string folder = fresh_folder("locate");
  struct Row {
    const char* name;
    RecordingSpec recipe;
    std::vector<double> in_points;
  };
  RecordingSpec camera;  // 720p noise, sound after its pictures, three slices a picture
  camera.width = 1280;
  camera.height = 720;
  camera.duration_s = 12;
  camera.gop = 50;
  camera.audio = true;
  camera.slices = 3;
  camera.extra_args = {"--noise", "8", "--bitrate", "3000", "--sound-after"};
  RecordingSpec sparse;  // a key picture every 12 s: the walk must go back further
  sparse.width = 320;
  sparse.height = 180;
  sparse.duration_s = 40;
  sparse.gop = 300;
  sparse.audio = true;
  RecordingSpec mid_group;  // starts inside a group: no key picture before 0.8 s
  mid_group.duration_s = 6;
  mid_group.mid_gop = 20;
  const Row rows[] = {
      {"camera", camera, {0, 0.5, 2.0, 3.99, 4.0, 4.01, 7.3, 11.9, 11.96}},
      {"sparse keys", sparse, {11.9, 12.0, 23.5, 35.9, 39.9}},
      {"starts inside a group", mid_group, {0, 0.3, 0.8, 1.1, 5.0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = make_recording_file(row.recipe, folder + "/" + row.name + ".264");
    ASSERT_FALSE(path.empty());
    const Recording rec = load_quietly(path);
    ASSERT_FALSE(rec.frames.empty());
    for (double in : row.in_points) {
      StretchStart found;
      std::string reason;
      ASSERT_TRUE(locate_stretch_start(path, in, &found, &reason)) << reason;
      const StretchStart want = index_start(rec, in);
      const bool before_first_key = rec.units[static_cast<size_t>(rec.frames[0])].type != 5 &&
                                    want.offset == 0;
      EXPECT_EQ(found.offset, before_first_key ? 0 : want.offset) << "in-point " << in;
      EXPECT_NEAR(found.time_s, want.time_s, 1e-9) << "in-point " << in;
    }
  }
}

// ---- exported MP4s ------------------------------------------------------

// The frame numbers painted into the MP4's pictures, as ffmpeg decodes them.
std::vector<int> decoded_frame_numbers(const std::string& mp4) {
  const std::string gray = mp4 + ".gray";
  run_command("ffmpeg -nostdin -v error -y -i " + shell_quoted(mp4) +
              " -vf scale=256:144 -f rawvideo -pix_fmt gray " + shell_quoted(gray));
  const std::vector<uint8_t> pixels = read_file_bytes(gray);
  fs::remove(gray);
  std::vector<int> numbers;
  const size_t frame = 256 * 144;
  for (size_t at = 0; at + frame <= pixels.size(); at += frame) {
    numbers.push_back(read_frame_number(
        [&](int x, int y) { return pixels[at + static_cast<size_t>(y * 256 + x)]; }, 256, 144));
  }
  return numbers;
}

// A camera-sized recording: 720p noise at 3 Mbit/s, 25 fps, key pictures
// every 2 s, its sound after its pictures with a tone for the first 200 ms
// of each second from the first picture on.
RecordingSpec camera_recording(double seconds, uint32_t first_ts = 1000) {
  RecordingSpec recipe;
  recipe.width = 1280;
  recipe.height = 720;
  recipe.duration_s = seconds;
  recipe.gop = 50;
  recipe.audio = true;
  recipe.first_ts = first_ts;
  recipe.extra_args = {"--noise", "8", "--bitrate", "3000", "--sound-after", "--tone-period",
                       "1000", "--tone-on", "200"};
  return recipe;
}

std::string run_tool(const std::string& args, int* status) {
  return run_command(kTool + " --quiet " + args, status);
}

TEST(StretchExport, OneRecordingFromTheKeyPictureToTheOutPointWithItsSoundInStep) {
  const std::string folder = fresh_folder("stretch-one");
  const std::string input = make_recording_file(camera_recording(14), folder + "/20261201_080000.264");
  ASSERT_FALSE(input.empty());
  int status = -1;
  const std::string out = run_tool("--from 5.3 --to 11.5 " + shell_quoted(input), &status);
  const std::string mp4 = folder + "/20261201_080000_20261201_080005-080011.mp4";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "OK  " + input + " -> " + mp4 + "  (from 4.0 s to 11.5 s)\n");
  // From the key picture at 4 s to 11.5 s: 7.5 s, its first picture number 100.
  const StreamFacts video = probe_streams(mp4);
  EXPECT_NEAR(video.duration_ts / 90000.0, 7.5, 0.041);
  EXPECT_EQ(video.frames_decoded, 188);
  const std::vector<int> numbers = decoded_frame_numbers(mp4);
  ASSERT_EQ(numbers.size(), 188u);
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], 100 + static_cast<int>(i)) << i;
  EXPECT_EQ(decode_errors(mp4), "");
  // The sound: from the key picture to the out-point, each second's tone
  // heard with the picture taken then.
  const SoundFacts sound = probe_sound(mp4);
  ASSERT_TRUE(sound.present);
  EXPECT_NEAR(sound.start_s, 0.0, 0.001);
  EXPECT_NEAR(sound.duration_s, 7.5, 0.15);
  const std::vector<double> heard = tone_onsets(decoded_sound_on_timeline(mp4));
  ASSERT_EQ(heard.size(), 8u);
  for (size_t k = 0; k < heard.size(); ++k) EXPECT_NEAR(heard[k], static_cast<double>(k), 0.04) << k;
  // Again: a name of its own; the first MP4 stays.
  EXPECT_EQ(run_tool("--from 5.3 --to 11.5 " + shell_quoted(input), &status),
            "OK  " + input + " -> " + folder + "/20261201_080000_20261201_080005-080011_2.mp4  (from 4.0 s to 11.5 s)\n");
  EXPECT_TRUE(temporaries_in(folder).empty());
}

// Three recordings of a folder, cut from one camera stream: the stretch from
// the first through the second into the third plays on without a gap or a
// repeat, pictures and sound, whether the points are seconds or times of day.
TEST(StretchExport, AcrossRecordingsOfTheFolderAsOneMp4) {
  const std::string folder = fresh_folder("stretch-across");
  const std::string names[] = {"20261201_080000.264", "20261201_080006.264", "20261201_080012.264"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_FALSE(make_recording_file(camera_recording(6, 1000 + 6000 * static_cast<uint32_t>(i)),
                                     folder + "/" + names[i]).empty());
  }
  const std::string input = folder + "/" + names[0];
  const struct {
    const char* what;
    std::string args;
  } rows[] = {
      {"seconds", "--from 4.5 --to 14.5"},
      {"times of day", "--from 08:00:04.5 --to 08:00:14.5"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    int status = -1;
    const std::string out = run_tool(row.args + " " + shell_quoted(input), &status);
    EXPECT_EQ(status, 0) << out;
    const size_t arrow = out.find(" -> "), end = out.find("  (");
    ASSERT_NE(arrow, std::string::npos) << out;
    const std::string mp4 = out.substr(arrow + 4, end - arrow - 4);
    EXPECT_EQ(fs::path(mp4).filename().string().substr(0, 16), "20261201_080000_") << out;
    EXPECT_NE(out.find("(from 4.0 s of " + names[0] + " to 2.5 s of " + names[2] + ")"),
              std::string::npos)
        << out;
    // 2 s of the first, all 6 of the second, 2.5 of the third.
    const std::vector<int> numbers = decoded_frame_numbers(mp4);
    ASSERT_EQ(numbers.size(), 50u + 150u + 63u);
    for (size_t i = 0; i < numbers.size(); ++i) {
      const int want = i < 50 ? 100 + static_cast<int>(i) : static_cast<int>((i - 50) % 150);
      ASSERT_EQ(numbers[i], want) << i;
    }
    const std::vector<PacketFacts> packets = probe_packets(mp4);
    EXPECT_NEAR(packets[50].pts / 90000.0, 2.0, 0.001);
    EXPECT_NEAR(packets[200].pts / 90000.0, 8.0, 0.001);
    EXPECT_EQ(decode_errors(mp4), "");
    const std::vector<double> heard = tone_onsets(decoded_sound_on_timeline(mp4));
    ASSERT_EQ(heard.size(), 11u);
    for (size_t k = 0; k < heard.size(); ++k) EXPECT_NEAR(heard[k], static_cast<double>(k), 0.04) << k;
    EXPECT_NEAR(probe_sound(mp4).duration_s, 10.5, 0.15);
  }
}

// A recording of the folder that holds sound but no picture (a camera that
// lost its picture for a while): nothing places a stretch in it, so the
// export says so and writes nothing, rather than an MP4 whose sound is off.
TEST(StretchExport, ARecordingWithSoundButNoPicturesIsNamedAndNothingWritten) {
  const std::string folder = fresh_folder("stretch-sound-only");
  const std::string names[] = {"20261201_080000.264", "20261201_080006.264", "20261201_080012.264"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_FALSE(make_recording_file(camera_recording(6, 1000 + 6000 * static_cast<uint32_t>(i)),
                                     folder + "/" + names[i]).empty());
  }
  // The middle one keeps its file header and sound blocks only.
  const std::string middle = folder + "/" + names[1];
  const FileBytes whole = read_file_bytes(middle);
  ASSERT_GT(whole.size(), kFileHeaderSize);
  const uint8_t* payload = whole.data() + kFileHeaderSize;
  const size_t length = whole.size() - kFileHeaderSize;
  FileBytes sound_only(whole.begin(), whole.begin() + kFileHeaderSize);
  size_t size = 0;
  for (size_t at = next_camera_block(payload, length, 0, &size); at != SIZE_MAX;
       at = next_camera_block(payload, length, at + size, &size)) {
    if (payload[at + 2] == 'A') sound_only.insert(sound_only.end(), payload + at, payload + at + size);
  }
  ASSERT_GT(sound_only.size(), whole.size() / 1000);
  ASSERT_TRUE(write_bytes(middle, sound_only));

  int status = -1;
  const std::string out = run_tool("--from 4.5 --to 08:00:14.5 " + shell_quoted(folder + "/" + names[0]), &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("FAILED"), std::string::npos) << out;
  EXPECT_NE(out.find(names[1] + ": no picture timestamps"), std::string::npos) << out;
  for (const auto& entry : fs::directory_iterator(folder)) EXPECT_NE(entry.path().extension(), ".mp4");
  EXPECT_TRUE(temporaries_in(folder).empty());
}

// Bad points are refused with a clear line: the command line's own mistakes
// with the usage and status 2, points the recordings cannot hold with a
// FAILED line and status 1; nothing is written.
TEST(StretchExport, BadPointsAreRefusedClearly) {
  const std::string folder = fresh_folder("stretch-bad");
  RecordingSpec small;
  small.duration_s = 4;
  const std::string named = make_recording_file(small, folder + "/20261201_080000.264");
  const std::string plain = make_recording_file(small, folder + "/plain.264");
  ASSERT_FALSE(named.empty() || plain.empty());
  const std::string q_named = shell_quoted(named), q_plain = shell_quoted(plain);
  const struct {
    std::string args;
    int status;
    std::string says;
  } rows[] = {
      {q_named + " --from", 2, "option '--from' needs a value"},
      {"--from " + q_named, 2, "no recording named"},
      {"--from 4:12 " + q_named, 2, "--from: '4:12' is neither seconds (95.5) nor a time of day"},
      {"--to -3 " + q_named, 2, "--to: '-3' is neither seconds"},
      {"--from 3 --to 2 " + q_named, 2, "--to must come after --from"},
      {"--from 1 " + q_named + " " + q_plain, 2, "--from and --to take one recording"},
      {"--from 9 " + q_plain, 1, "FAILED  " + plain + ": --from 9 s lies past the end (the recording runs 4.0 s)"},
      {"--from 08:00:01 " + q_plain, 1, "FAILED  " + plain + ": --from 08:00:01: the recording's name gives no time of day; give seconds"},
      {"--from 07:59:59 " + q_named, 1, "FAILED  " + named + ": --from 07:59:59 lies before the recording's start (08:00:00)"},
      {"--from 08:00:03 --to 08:00:02 " + q_named, 1, "FAILED  " + named + ": --to 08:00:02 does not come after --from 08:00:03"},
      {"--to 2 " + shell_quoted(folder + "/missing.264"), 1, "cannot open the recording"},
  };
  for (const auto& r : rows) {
    int status = -1;
    const std::string out = run_tool(r.args, &status);
    EXPECT_EQ(status, r.status) << r.args << "\n" << out;
    EXPECT_NE(out.find(r.says), std::string::npos) << r.args << "\n" << out;
  }
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().extension(), ".264") << entry.path();
  }
}

// The API's own guards: a folder that takes no file passes to the next; a
// cancelled export leaves no file.
TEST(StretchExport, FolderFallbackAndCancel) {
  const std::string folder = fresh_folder("stretch-api");
  RecordingSpec small;
  small.duration_s = 4;
  small.audio = true;
  const std::string input = make_recording_file(small, folder + "/a.264");
  ASSERT_FALSE(input.empty());
  StretchRequest request;
  request.inputs = {input};
  request.in_s = 1.5;
  request.out_s = 3.0;
  request.name = "a_part.mp4";
  request.folders = {folder + "/no such folder", folder};
  request.options.print_frame_rate = false;
  StretchResult result = export_stretch(request, {});
  ASSERT_TRUE(result.remux.succeeded) << result.remux.reason;
  EXPECT_EQ(result.output, folder + "/a_part.mp4");
  EXPECT_NEAR(result.start.time_s, 1.0, 1e-9);
  EXPECT_NEAR(result.remux.duration_s, 2.0, 0.001);

  std::atomic<bool> cancel{true};
  request.options.cancel = &cancel;
  request.name = "b_part.mp4";
  result = export_stretch(request, {});
  EXPECT_FALSE(result.remux.succeeded);
  EXPECT_EQ(result.remux.reason, kCancelledReason);
  EXPECT_FALSE(fs::exists(folder + "/b_part.mp4"));
  EXPECT_TRUE(temporaries_in(folder).empty());

  request.options.cancel = nullptr;
  request.folders = {folder + "/no such folder"};
  result = export_stretch(request, {});
  EXPECT_EQ(result.remux.reason, kCannotWriteFolderReason);
}

// Damaged and foreign files: every export ends with an MP4 or a reason, the
// start search included, and leaves no temporary behind.
TEST(StretchExport, DamagedRecordingsGiveAnMp4OrAReason) {
  const std::string folder = fresh_folder("stretch-damaged");
  const FileBytes& source = damage_source_recording();
  std::vector<std::pair<std::string, FileBytes>> files;
  for (const RecordingCut& cut : boundary_cuts(source)) {
    files.emplace_back("cut " + cut.kind, FileBytes(source.begin(), source.begin() + cut.file_size));
  }
  files.emplace_back("flipped bits", flip_slice_bits(source, 40, 7));
  files.emplace_back("zeros in the middle", zero_stretch(source, source.size() / 2, 3000));
  files.emplace_back("a flood of headers", hxaf_flood(source, 5000, false));
  files.emplace_back("random bytes", random_recording(1 << 20, 3, false));
  files.emplace_back("random units", random_recording(1 << 20, 4, true));
  int succeeded = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].first);
    const std::string input = folder + "/damaged" + std::to_string(i) + ".264";
    ASSERT_TRUE(write_bytes(input, files[i].second));
    StretchRequest request;
    request.inputs = {input};
    request.in_s = 1.2;
    request.out_s = 2.5;
    request.name = "part" + std::to_string(i) + ".mp4";
    request.folders = {folder};
    request.options.print_frame_rate = false;
    const StretchResult result = export_stretch(request, {});
    EXPECT_TRUE(result.remux.succeeded || !result.remux.reason.empty());
    if (result.remux.succeeded) {
      ++succeeded;
      EXPECT_LE(result.remux.duration_s, 2.5 - result.start.time_s + 0.001);
      EXPECT_TRUE(fs::exists(result.output));
    }
  }
  EXPECT_GE(succeeded, 3) << "the whole file, flipped bits and the flood export";
  EXPECT_TRUE(temporaries_in(folder).empty());
}

}  // namespace
