// The sound of a camera's stream, packet by packet: what the SDP says about
// it, the RTP payloads of each codec back into units, and the clock that
// places sound and pictures against each other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/depacketizer_sound.h"
#include "rtsp/exchange.h"
#include "rtsp/media_clock.h"
#include "rtsp/sdp.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes rtp(uint16_t sequence, uint32_t timestamp, const Bytes& payload, bool marker = false, uint8_t padding = 0) {
  Bytes p = {static_cast<uint8_t>(padding ? 0xA0 : 0x80), static_cast<uint8_t>(marker ? 0xE1 : 0x61),
             static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
             static_cast<uint8_t>(timestamp >> 24), static_cast<uint8_t>(timestamp >> 16),
             static_cast<uint8_t>(timestamp >> 8), static_cast<uint8_t>(timestamp), 9, 9, 9, 9};
  p.insert(p.end(), payload.begin(), payload.end());
  for (uint8_t i = 0; i < padding; ++i) p.push_back(i + 1 == padding ? padding : 0);
  return p;
}

struct Unit {
  Bytes bytes;
  uint32_t time;
  bool operator==(const Unit&) const = default;
};

struct Collector {
  std::vector<Unit> units;
  SoundUnitSink sink() {
    return [this](const uint8_t* data, size_t size, uint32_t time) { units.push_back({Bytes(data, data + size), time}); };
  }
};

SoundDepacketizerState state_for(const std::string& sdp) {
  SoundDepacketizerState state;
  state.sound = sdp_sound(sdp);
  return state;
}

const std::string kVideo =
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:stream=0\r\n";
const std::string kGeneric =
    "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 MPEG4-GENERIC/16000/1\r\n"
    "a=fmtp:97 streamtype=5;profile-level-id=2;mode=AAC-hbr;config=1408;sizelength=13;indexlength=3;"
    "indexdeltalength=3\r\na=control:stream=1\r\n";
const std::string kLatm =
    "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 MP4A-LATM/16000\r\na=fmtp:97 cpresent=0;config=40002810adca00\r\n";

// An AU header section of AAC-hbr (13 bits of size, 3 of index) for `sizes`.
Bytes au_headers(const std::vector<uint16_t>& sizes) {
  Bytes out = {static_cast<uint8_t>((sizes.size() * 16) >> 8), static_cast<uint8_t>(sizes.size() * 16)};
  for (uint16_t size : sizes) {
    out.push_back(static_cast<uint8_t>(size >> 5));
    out.push_back(static_cast<uint8_t>((size & 0x1F) << 3));
  }
  return out;
}

Bytes filled(size_t n, uint8_t value) { return Bytes(n, value); }

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(SdpSound, TheSoundSectionInEitherOrder) {
  struct Case {
    const char* name;
    std::string sdp;
    SoundCodec codec;
    int rate, channels;
    std::string control;
  } cases[] = {
      {"none", kVideo, SoundCodec::none, 0, 1, ""},
      {"PCMA after the picture", kVideo + "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:track2\r\n",
       SoundCodec::pcma, 8000, 1, "track2"},
      {"PCMA first, static type without a map",
       "m=audio 0 RTP/AVP 8\r\na=control:audio\r\n" + kVideo, SoundCodec::pcma, 8000, 1, "audio"},
      {"PCMU static", "m=audio 0 RTP/AVP 0\r\n" + kVideo, SoundCodec::pcmu, 8000, 1, ""},
      {"PCMU stereo by its map", "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 pcmu/8000/2\r\n", SoundCodec::pcmu, 8000, 2, ""},
      {"mpeg4-generic", kGeneric + kVideo, SoundCodec::aac, 16000, 1, "stream=1"},
      {"MP4A-LATM", kVideo + kLatm, SoundCodec::aac_latm, 16000, 1, ""},
      {"G.726", "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 G726-32/8000\r\n", SoundCodec::unsupported, 8000, 1, ""},
      {"LATM with the config in the stream",
       "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 MP4A-LATM/16000\r\na=fmtp:97 cpresent=1\r\n", SoundCodec::unsupported,
       16000, 1, ""},
      {"AAC without config", "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 mpeg4-generic/16000\r\na=fmtp:97 mode=AAC-hbr;sizelength=13\r\n",
       SoundCodec::unsupported, 16000, 1, ""},
      {"AAC in CELP mode",
       "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 mpeg4-generic/16000\r\na=fmtp:97 mode=CELP-cbr;config=1408\r\n",
       SoundCodec::unsupported, 16000, 1, ""},
      {"a dynamic type without a map", "m=audio 0 RTP/AVP 97\r\n", SoundCodec::unsupported, 0, 1, ""},
      {"a map for another type only", "m=audio 0 RTP/AVP 97\r\na=rtpmap:98 PCMA/8000\r\n", SoundCodec::unsupported,
       0, 1, ""},
      {"many channels", "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 PCMA/8000/12\r\n", SoundCodec::unsupported, 8000, 12, ""},
      {"a rate past any sound's", "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 PCMA/2147483647\r\n", SoundCodec::unsupported,
       0, 1, ""},
      {"a rate below any sound's", "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 PCMA/10\r\n", SoundCodec::unsupported, 0, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SdpSound sound = sdp_sound(c.sdp);
    EXPECT_EQ(sound.codec, c.codec);
    if (c.codec == SoundCodec::unsupported) {
      EXPECT_FALSE(sound.unplayable.empty());
      continue;
    }
    EXPECT_EQ(sound.clock_rate, c.rate);
    EXPECT_EQ(sound.channels, c.channels);
    EXPECT_EQ(sound.control, c.control);
  }
  // The pictures' own reading is not disturbed by sound before them.
  const std::string sound_first = kGeneric + kVideo;
  EXPECT_EQ(video_codec_from_encoding(sdp_video_encoding(sound_first)), VideoCodec::h264);
  EXPECT_EQ(choose_control_url(sound_first, "rtsp://cam:554/live"), "rtsp://cam:554/live/stream=0");
  const SdpSound generic = sdp_sound(kGeneric);
  EXPECT_EQ(generic.aac_config, (Bytes{0x14, 0x08}));
  EXPECT_EQ(generic.size_length, 13);
  EXPECT_EQ(generic.index_length, 3);
  EXPECT_EQ(generic.index_delta_length, 3);
}

TEST(SdpSound, SetupAnswersAndControlUrls) {
  const std::string url = "rtsp://cam:554/live";
  EXPECT_EQ(control_url_of("rtsp://other/x", url, "-"), "rtsp://other/x");
  EXPECT_EQ(control_url_of("*", url, "-"), url);
  EXPECT_EQ(control_url_of("track2", url, "-"), url + "/track2");
  EXPECT_EQ(control_url_of("", url, "-"), "-");
  struct Case {
    const char* head;
    int channel;
  } cases[] = {
      {"RTSP/1.0 200 OK\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n\r\n", 2},
      {"RTSP/1.0 200 OK\r\nTransport: RTP/AVP/TCP;unicast;Interleaved=6-7;ssrc=1\r\n\r\n", 6},
      {"RTSP/1.0 200 OK\r\nTransport: RTP/AVP/TCP;unicast\r\n\r\n", -1},
      {"RTSP/1.0 200 OK\r\nTransport: RTP/AVP/TCP;interleaved=x\r\n\r\n", -1},
      {"RTSP/1.0 200 OK\r\nTransport: RTP/AVP/TCP;interleaved=999-1000\r\n\r\n", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(interleaved_channel(c.head, -1), c.channel) << c.head;
}

TEST(SoundDepacketizer, G711PayloadsAreUnitsAsTheyCame) {
  SoundDepacketizerState state = state_for("m=audio 0 RTP/AVP 8\r\n");
  Collector got;
  depacketize_sound(rtp(1, 1000, filled(160, 0xD5)).data(), 172, state, got.sink());
  const Bytes padded = rtp(2, 1160, filled(80, 0x55), false, 4);
  depacketize_sound(padded.data(), padded.size(), state, got.sink());
  const Bytes header_only = rtp(3, 1240, {});
  depacketize_sound(header_only.data(), header_only.size(), state, got.sink());
  ASSERT_EQ(got.units.size(), 2u);
  EXPECT_EQ(got.units[0], (Unit{filled(160, 0xD5), 1000}));
  EXPECT_EQ(got.units[1], (Unit{filled(80, 0x55), 1160}));  // the padding left out
}

TEST(SoundDepacketizer, Rfc3640AccessUnitsWholeAndFragmented) {
  SoundDepacketizerState state = state_for(kGeneric);
  Collector got;
  // Three whole units in one packet: times 1024 apart.
  const Bytes three = rtp(1, 5000, joined({au_headers({3, 2, 4}), {1, 1, 1}, {2, 2}, {3, 3, 3, 3}}), true);
  depacketize_sound(three.data(), three.size(), state, got.sink());
  // One unit of 600 bytes in three fragments, each with the whole unit's size.
  const Bytes unit = filled(600, 0x42);
  for (int part = 0; part < 3; ++part) {
    const Bytes piece(unit.begin() + part * 200, unit.begin() + (part + 1) * 200);
    const Bytes packet = rtp(static_cast<uint16_t>(2 + part), 8072, joined({au_headers({600}), piece}), part == 2);
    depacketize_sound(packet.data(), packet.size(), state, got.sink());
  }
  ASSERT_EQ(got.units.size(), 4u);
  EXPECT_EQ(got.units[0], (Unit{{1, 1, 1}, 5000}));
  EXPECT_EQ(got.units[1], (Unit{{2, 2}, 6024}));
  EXPECT_EQ(got.units[2], (Unit{{3, 3, 3, 3}, 7048}));
  EXPECT_EQ(got.units[3], (Unit{unit, 8072}));

  // A lost fragment drops its unit; the next whole unit comes through.
  got.units.clear();
  const Bytes first = rtp(10, 9096, joined({au_headers({600}), filled(200, 1)}));
  depacketize_sound(first.data(), first.size(), state, got.sink());
  note_sound_packet_loss(state);
  const Bytes last = rtp(12, 9096, joined({au_headers({600}), filled(200, 3)}), true);
  depacketize_sound(last.data(), last.size(), state, got.sink());
  const Bytes next = rtp(13, 10120, joined({au_headers({5}), filled(5, 9)}), true);
  depacketize_sound(next.data(), next.size(), state, got.sink());
  ASSERT_EQ(got.units.size(), 1u);
  EXPECT_EQ(got.units[0], (Unit{filled(5, 9), 10120}));
  EXPECT_GE(state.dropped, 1u);

  // Headers that claim more than the packet holds, or run past it, give nothing.
  got.units.clear();
  const Bytes lying = rtp(20, 11144, joined({au_headers({3, 50}), {1, 1, 1}, {2}}), true);
  depacketize_sound(lying.data(), lying.size(), state, got.sink());
  const Bytes overrun = rtp(21, 12168, {0x10, 0x00, 1}, true);  // 4096 bits of headers in one byte
  depacketize_sound(overrun.data(), overrun.size(), state, got.sink());
  ASSERT_EQ(got.units.size(), 1u);
  EXPECT_EQ(got.units[0], (Unit{{1, 1, 1}, 11144}));
}

TEST(SoundDepacketizer, LatmElementsOverPacketsWithTheirLengthBytes) {
  SoundDepacketizerState state = state_for(kLatm);
  Collector got;
  // A unit of 300 bytes: length bytes 255 and 45, split over two packets; the marker ends it.
  const Bytes unit = filled(300, 0x77);
  const Bytes element = joined({{255, 45}, unit});
  const Bytes first = rtp(1, 2000, Bytes(element.begin(), element.begin() + 150));
  const Bytes second = rtp(2, 2000, Bytes(element.begin() + 150, element.end()), true);
  depacketize_sound(first.data(), first.size(), state, got.sink());
  EXPECT_TRUE(got.units.empty());
  depacketize_sound(second.data(), second.size(), state, got.sink());
  // One more whose marker was lost: it ends when the next time begins.
  const Bytes unmarked = rtp(3, 3024, joined({{4}, {1, 2, 3, 4}}));
  const Bytes after = rtp(4, 4048, joined({{2}, {5, 6}}), true);
  depacketize_sound(unmarked.data(), unmarked.size(), state, got.sink());
  depacketize_sound(after.data(), after.size(), state, got.sink());
  ASSERT_EQ(got.units.size(), 3u);
  EXPECT_EQ(got.units[0], (Unit{unit, 2000}));
  EXPECT_EQ(got.units[1], (Unit{{1, 2, 3, 4}, 3024}));
  EXPECT_EQ(got.units[2], (Unit{{5, 6}, 4048}));
  // A length running past the element gives nothing.
  const Bytes lying = rtp(5, 5072, joined({{200}, {1, 2}}), true);
  depacketize_sound(lying.data(), lying.size(), state, got.sink());
  EXPECT_EQ(got.units.size(), 3u);
}

TEST(MediaClock, SenderReportsFromCompoundPackets) {
  // A receiver report, then a sender report: the second is found.
  const Bytes compound = {0x80, 201, 0, 1, 0, 0, 0, 1,                               // RR, no blocks
                          0x80, 200, 0, 6, 0xAB, 0xCD, 0x00, 0x01,                   // SR of SSRC abcd0001
                          0xE0, 0, 0, 1, 0x80, 0, 0, 0,                              // NTP 0xE0000001.5
                          0, 0, 0x10, 0, 0, 0, 0, 5, 0, 0, 1, 0};
  SenderReport report;
  ASSERT_TRUE(find_sender_report(compound.data(), compound.size(), report));
  EXPECT_EQ(report.ssrc, 0xABCD0001u);
  EXPECT_EQ(report.ntp, 0xE000000180000000ull);
  EXPECT_EQ(report.rtp_time, 0x1000u);
  EXPECT_FALSE(find_sender_report(compound.data(), 8, report));            // the RR alone
  EXPECT_FALSE(find_sender_report(compound.data(), compound.size() - 1, report));  // the SR cut short
  const Bytes not_rtcp = {0x40, 200, 0, 6};
  EXPECT_FALSE(find_sender_report(not_rtcp.data(), not_rtcp.size(), report));
}

TEST(MediaClock, ArrivalFirstThenTheReportsPlaceTheSound) {
  MediaClock clock = make_media_clock(90000, 8000);
  // The first picture arrives at 1.0 s, the first sound at 1.2 s (sent 0.1 s
  // after the picture, 0.1 s on the way more).
  EXPECT_DOUBLE_EQ(media_time(clock, clock.video, 0xFFFFF000u, 1.0), 1.0);
  EXPECT_DOUBLE_EQ(media_time(clock, clock.sound, 500, 1.2), 1.2);
  // RTP times wrap: 0xFFFFF000 + 90000 ticks is one second on.
  EXPECT_NEAR(media_time(clock, clock.video, 0xFFFFF000u + 90000u, 5.0), 2.0, 1e-9);
  EXPECT_NEAR(media_time(clock, clock.sound, 500 + 8000, 9.0), 2.2, 1e-9);
  // Reports: the picture's RTP time 0xFFFFF000 was at wall clock 100.0 s,
  // the sound's 500 at 100.1 s.
  take_sender_report(clock, clock.video, {1, uint64_t(100) << 32, 0xFFFFF000u});
  EXPECT_FALSE(clock.by_reports);
  take_sender_report(clock, clock.sound, {2, (uint64_t(100) << 32) + 429496730ull, 500});  // 100.1 s
  EXPECT_TRUE(clock.by_reports);
  // The pictures' times go on as they were; the sound moves 0.1 s earlier,
  // where the sender put it against the pictures.
  EXPECT_NEAR(media_time(clock, clock.video, 0xFFFFF000u + 180000u, 9.5), 3.0, 1e-6);
  EXPECT_NEAR(media_time(clock, clock.sound, 500 + 16000, 9.5), 3.1, 1e-6);
  // A report before a stream's first packet is ignored.
  MediaClock fresh = make_media_clock(90000, 16000);
  take_sender_report(fresh, fresh.sound, {2, uint64_t(5) << 32, 0});
  EXPECT_FALSE(fresh.sound.reported);
}
