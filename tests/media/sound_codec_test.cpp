// The sound codecs below the live view: the AAC configurations a session
// description carries, G.711 by table, and the way to the recordings' 8000 Hz
// A-law.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/aac_config.h"
#include "media/sound_decoder.h"
#include "recording/alaw.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr double kPi = 3.14159265358979323846;

Bytes hex(const char* text) {
  Bytes bytes;
  EXPECT_TRUE(parse_hex_bytes(text, bytes)) << text;
  return bytes;
}

// A tone at `hz`, `seconds` long, `channels` interleaved (the same in each).
std::vector<int16_t> tone(int rate, int channels, double seconds, double hz, double amplitude) {
  std::vector<int16_t> samples;
  const int frames = static_cast<int>(rate * seconds);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      samples.push_back(static_cast<int16_t>(amplitude * std::sin(2 * kPi * hz * i / rate)));
  return samples;
}

// Zero crossings upwards per second of A-law bytes: the tone's frequency.
double crossings_per_second(const Bytes& alaw) {
  int crossings = 0;
  for (size_t i = 1; i < alaw.size(); ++i) crossings += decode_alaw(alaw[i - 1]) < 0 && decode_alaw(alaw[i]) >= 0;
  return crossings * 8000.0 / static_cast<double>(alaw.size());
}

}  // namespace

TEST(AacConfig, HexBytes) {
  struct Case {
    const char* text;
    bool ok;
    Bytes bytes;
  } cases[] = {
      {"", true, {}},          {"1408", true, {0x14, 0x08}}, {"aBcD", true, {0xAB, 0xCD}},
      {"140", false, {}},      {"14 08", false, {}},         {"zz", false, {}},
  };
  for (const Case& c : cases) {
    Bytes bytes;
    EXPECT_EQ(parse_hex_bytes(c.text, bytes), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

TEST(AacConfig, AudioSpecificConfigsOfCameras) {
  struct Case {
    const char* hex;
    bool ok;
    int object_type, rate, channels;
    size_t bits;
  } cases[] = {
      {"1408", true, 2, 16000, 1, 16},          // AAC-LC 16 kHz mono, as GStreamer's avenc_aac
      {"1188", true, 2, 48000, 1, 16},          // 48 kHz mono
      {"1590", true, 2, 8000, 2, 16},           // 8 kHz stereo
      {"140856e500", true, 2, 16000, 1, 16},    // with a sync extension after it (read no further)
      {"2b8a0800", true, 5, 22050, 1, 25},      // SBR: the core's rate, the extension's read past
      {"1400", false, 0, 0, 0, 0},              // channel configuration 0: a program element
      {"17c8", false, 0, 0, 0, 0},              // reserved sample-rate index 15 without its 24 bits
      {"4408", false, 0, 0, 0, 0},              // object type 8 (CELP): not general audio
      {"14", false, 0, 0, 0, 0},                // cut short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    size_t end = 0;
    AacConfigInfo info;
    ASSERT_EQ(read_audio_specific_config(hex(c.hex), 0, end, info), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(info.object_type, c.object_type);
    EXPECT_EQ(info.sample_rate, c.rate);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_EQ(end, c.bits);
  }
}

TEST(AacConfig, TheConfigInsideAStreamMuxConfig) {
  struct Case {
    const char* mux;
    bool ok;
    Bytes asc;
    int subframes;
  } cases[] = {
      {"40002810adca00", true, {0x14, 0x08}, 1},  // GStreamer's rtpmp4apay, 16 kHz mono
      {"40002410", true, {0x12, 0x08}, 1},        // 44.1 kHz mono, nothing after it
      {"41002810", true, {0x14, 0x08}, 2},        // one more subframe per element
      {"c0002810", false, {}, 0},                 // audioMuxVersion 1
      {"40102810", false, {}, 0},                 // two programs
      {"4000", false, {}, 0},                     // no config inside
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mux);
    Bytes asc;
    int subframes = 0;
    ASSERT_EQ(latm_audio_specific_config(hex(c.mux), asc, subframes), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(asc, c.asc);
    EXPECT_EQ(subframes, c.subframes);
  }
}

TEST(G711, ULawExpandsByTheTable) {
  struct Case {
    uint8_t code;
    int16_t sample;
  } cases[] = {{0xFF, 0}, {0x7F, 0}, {0x80, 32124}, {0x00, -32124}, {0xEF, 132}, {0x6F, -132},
               {0xF0, 120}, {0xC0, 1884}, {0x9F, 8316}, {0x1F, -8316}};  // as Python's audioop expands them
  for (const Case& c : cases) EXPECT_EQ(decode_ulaw(c.code), c.sample) << int(c.code);
  // Monotonic within each sign: codes count down as the magnitude rises.
  for (int code = 0x81; code <= 0xFF; ++code) EXPECT_LE(decode_ulaw(uint8_t(code)), decode_ulaw(uint8_t(code - 1)));
}

TEST(SoundDecoder, G711UnitsGiveOneSamplePerByteAndChannel) {
  for (const SoundCodec codec : {SoundCodec::pcma, SoundCodec::pcmu}) {
    SoundDecoder decoder;
    std::string error;
    ASSERT_TRUE(open_sound_decoder(decoder, codec, 8000, 2, {}, error));
    const Bytes unit = {0x00, 0x80, 0x55, 0xD5, 0x13};  // an odd byte: half a stereo sample
    std::vector<int16_t> out = {7};
    EXPECT_EQ(decode_sound_unit(decoder, unit.data(), unit.size(), out), 2);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0], 7);  // appended after what was there
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(out[i + 1], codec == SoundCodec::pcma ? decode_alaw(unit[i]) : decode_ulaw(unit[i]));
  }
  SoundDecoder none;
  std::string error;
  EXPECT_FALSE(open_sound_decoder(none, SoundCodec::unsupported, 8000, 1, {}, error));
}

TEST(SoundDecoder, AacWithABrokenConfigurationOrBrokenUnitsDecodesNothing) {
  SoundDecoder decoder;
  std::string error;
  ASSERT_TRUE(open_sound_decoder(decoder, SoundCodec::aac, 16000, 1, {0x14, 0x08}, error)) << error;
  const Bytes junk = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x00, 0x01};
  std::vector<int16_t> out;
  for (int i = 0; i < 10; ++i) decode_sound_unit(decoder, junk.data(), junk.size(), out);
  EXPECT_LE(out.size(), 10u * 2048u);  // nothing that grows without bound, no crash
  EXPECT_EQ(decode_sound_unit(decoder, junk.data(), 0, out), 0);
}

TEST(AlawConverter, EveryRateAndLayoutBecomes8000HzMonoWithTheToneKept) {
  struct Case {
    int rate, channels;
  } cases[] = {{8000, 1}, {16000, 1}, {44100, 2}, {48000, 1}, {11025, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz x" + std::to_string(c.channels));
    const std::vector<int16_t> input = tone(c.rate, c.channels, 2.0, 440, 8000);
    AlawConverter converter;
    Bytes alaw;
    // In uneven pieces, as units come.
    const int piece = 999;
    const int frames = static_cast<int>(input.size()) / c.channels;
    for (int at = 0; at < frames; at += piece) {
      const int n = std::min(piece, frames - at);
      ASSERT_TRUE(convert_to_alaw(converter, input.data() + static_cast<size_t>(at) * c.channels, n, c.rate,
                                  c.channels, alaw));
    }
    flush_alaw(converter, alaw);
    // Two seconds at 8000 Hz, give or take the resampler's rounding.
    EXPECT_NEAR(static_cast<double>(alaw.size()), 16000.0, 2.0);
    EXPECT_NEAR(crossings_per_second(alaw), 440.0, 3.0);
  }
}
