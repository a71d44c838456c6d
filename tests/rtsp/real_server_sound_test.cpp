// The camera's sound from GStreamer's RTSP server through rtsp_probe: PCMA,
// PCMU, AAC (mpeg4-generic and MP4A-LATM) beside the pictures, the sound
// track before or after the pictures in the SDP, over TCP and UDP, one case
// at a camera's size with a noisy picture; every sample the server sent is
// decoded. A codec the client does not play leaves the pictures alone. And a
// stream recorded with --record, read by the inspector, converted to MP4 and
// checked by ffprobe against what was sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "media_probe.h"
#include "probe_runner.h"
#include "rtsp_server_process.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct SoundCase {
  const char* name;
  const char* sound;
  bool udp;
  bool sound_first;
  const char* size;
  int bitrate_kbps;
  const char* expected_line;  // "Sound: <codec> <rate> Hz"
};

std::unique_ptr<RtspServerProcess> start_server(const RtspTestServerOptions& options) {
  std::string error;
  auto server = start_rtsp_test_server(options, error);
  EXPECT_TRUE(server) << "the GStreamer RTSP test server did not start: " << error;
  return server;
}

// The number after `key` in `text`; -1 when absent.
long long number_after(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + key.size());
}

// The sound the server sent on the stream that ended last ("SOUND_SENT n"); -1 while none.
long long sound_sent(const RtspServerProcess& server) {
  const std::string log = rtsp_test_server_log(server);
  const size_t at = log.rfind("SOUND_SENT ");
  return at == std::string::npos ? -1 : std::atoll(log.c_str() + at + 11);
}

}  // namespace

TEST(RealServerSound, EverySampleSentIsDecodedBesideThePictures) {
  const SoundCase cases[] = {
      {"PCMA over TCP", "pcma", false, false, "320x240", 0, "Sound: PCMA 8000 Hz"},
      {"PCMA first in the SDP, over UDP", "pcma", true, true, "320x240", 0, "Sound: PCMA 8000 Hz"},
      {"AAC first, noisy 720p over TCP", "aac", false, true, "1280x720", 3000, "Sound: AAC 16000 Hz"},
      {"AAC, noisy 720p over UDP", "aac", true, false, "1280x720", 3000, "Sound: AAC 16000 Hz"},
      {"MP4A-LATM over TCP", "aac-latm", false, false, "320x240", 0, "Sound: AAC-LATM 16000 Hz"},
      {"PCMU first over UDP", "pcmu", true, true, "320x240", 0, "Sound: PCMU 8000 Hz"},
  };
  for (const SoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    RtspTestServerOptions options;
    options.sound = c.sound;
    options.sound_first = c.sound_first;
    options.size = c.size;
    options.bitrate_kbps = c.bitrate_kbps;
    if (c.bitrate_kbps) options.pattern = "snow";
    options.count = 75;  // three seconds, then the media ends
    auto server = start_server(options);
    ASSERT_TRUE(server);
    std::string output;
    const int status = run_probe(std::string(c.udp ? "--udp " : "") + rtsp_test_server_url(*server) + " 5", output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find(c.udp ? "Transport: RTP over UDP" : "Transport: RTP interleaved over TCP"), std::string::npos);
    ASSERT_TRUE(wait_for_rtsp_test_server_log(*server, "SOUND_SENT ")) << rtsp_test_server_log(*server);
    const long long sent = sound_sent(*server);
    ASSERT_GT(sent, 0);
    EXPECT_NE(output.find(std::string(c.expected_line) + ", " + std::to_string(sent) + " samples decoded\n"),
              std::string::npos)
        << "sent " << sent << "\n" << output;
    EXPECT_EQ(number_after(output, "Pictures decoded: "), rtsp_test_server_pictures_sent(*server)) << output;
  }
}

TEST(RealServerSound, ASoundCodecThatDoesNotPlayLeavesThePictures) {
  RtspTestServerOptions options;
  options.sound = "g726";
  auto server = start_server(options);
  ASSERT_TRUE(server);
  std::string output;
  ASSERT_EQ(run_probe(rtsp_test_server_url(*server) + " 2", output), 0) << output;
  EXPECT_NE(output.find("Sound: none played (the sound codec G726-32 is not played)"), std::string::npos) << output;
  EXPECT_GT(number_after(output, "Pictures decoded: "), 20) << output;
  // Its track was never set up.
  const std::string log = rtsp_test_server_log(*server);
  EXPECT_EQ(log.find("REQUEST SETUP"), log.rfind("REQUEST SETUP")) << log;
}

namespace {

class RecordedStream : public TempFolderTest {
 protected:
  RecordedStream() : TempFolderTest("probe_record") {}
};

std::string tool(const std::string& name) { return std::string(H264_TOOLS_DIR) + "/" + name; }

}  // namespace

// A noisy 720p stream with PCMA sound, recorded by the probe: the inspector
// finds every picture and sample sent, the converter makes an MP4 whose
// pictures and sound ffprobe counts as sent. The same for AAC, whose sound a
// recording holds converted to 8000 Hz A-law.
TEST_F(RecordedStream, EveryPictureAndSampleSentIsInTheRecordingAndItsMp4) {
  for (const char* sound : {"pcma", "aac"}) {
    SCOPED_TRACE(sound);
    RtspTestServerOptions options;
    options.sound = sound;
    options.size = "1280x720";
    options.pattern = "snow";
    options.bitrate_kbps = 3000;
    options.count = 100;
    auto server = start_server(options);
    ASSERT_TRUE(server);
    const std::string recording = (folder / (std::string(sound) + " camera é.264")).string();
    std::string output;
    ASSERT_EQ(run_probe("--record " + shell_quoted(recording) + " " + rtsp_test_server_url(*server) + " 8", output), 0)
        << output;
    EXPECT_NE(output.find("Recorded: " + recording + "\n"), std::string::npos) << output;
    ASSERT_TRUE(wait_for_rtsp_test_server_log(*server, "SOUND_SENT "));
    const int pictures_sent = rtsp_test_server_pictures_sent(*server);
    const long long samples_sent = sound_sent(*server);
    const long long samples_in_file = std::string(sound) == "pcma" ? samples_sent : samples_sent / 2;

    int status = 0;
    const std::string inspected = run_command(tool("inspect_recording") + " " + shell_quoted(recording), &status);
    ASSERT_EQ(status, 0) << inspected;
    // "Audio blocks: N (S samples, ...)"
    EXPECT_GT(number_after(inspected, "Audio blocks: "), 0) << inspected;
    const long long samples = number_after(inspected.substr(inspected.find("Audio blocks: ")), "(");
    if (std::string(sound) == "pcma")
      EXPECT_EQ(samples, samples_in_file) << inspected;
    else
      EXPECT_NEAR(static_cast<double>(samples), static_cast<double>(samples_in_file), 4.0) << inspected;

    const std::string converted = run_command(tool("convert_mp4") + " --quiet " + shell_quoted(recording), &status);
    ASSERT_EQ(status, 0) << converted;
    const std::string mp4 = (folder / (std::string(sound) + " camera é.mp4")).string();
    const StreamFacts video = probe_streams(mp4);
    EXPECT_EQ(video.codec_name, "h264");
    EXPECT_EQ(video.width, 1280);
    EXPECT_EQ(video.frames_decoded, pictures_sent);
    const SoundFacts facts = probe_sound(mp4);
    ASSERT_TRUE(facts.present);
    EXPECT_EQ(facts.sample_rate, 8000);
    // The encoder's frames round the sound up to 1024 samples at most.
    EXPECT_NEAR(facts.duration_s, samples_in_file / 8000.0, 1024 / 8000.0 + 0.01);
    EXPECT_EQ(decode_errors(mp4), "");
  }
}
