// Depacketising RTP packets already read from the stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/depacketizer_h264.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every submitted unit with the way it was submitted: 'f' feed_nal, 'd' decode_and_show.
struct Submitted {
  std::vector<std::pair<char, Bytes>> units;
  NalSinks sinks() {
    NalSinks s;
    s.feed_nal = [this](const uint8_t* d, size_t n) { units.push_back({'f', Bytes(d, d + n)}); };
    s.decode_and_show = [this](const uint8_t* d, size_t n) { units.push_back({'d', Bytes(d, d + n)}); };
    return s;
  }
};

Bytes rtp(const Bytes& payload, uint8_t first_byte = 0x80, const Bytes& between = {}) {
  Bytes packet = {first_byte, 0x60, 0x12, 0x34, 0, 0, 0x0B, 0xB8, 0xDE, 0xAD, 0xBE, 0xEF};
  packet.insert(packet.end(), between.begin(), between.end());
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

void depacketize(const Bytes& packet, DepacketizerState& state, Submitted& out) {
  depacketize_h264(packet.data(), packet.size(), state, out.sinks());
}

TEST(RtpHeader, PayloadStartsAfterCsrcListAndExtension) {
  struct Case {
    const char* what;
    Bytes packet;
    bool has_payload;
    size_t offset;
  };
  const Bytes twelve(12, 0);
  const Case cases[] = {
      {"shorter than a header", Bytes(11, 0x80), false, 0},
      {"header only", rtp({}), false, 0},
      {"plain", rtp({0x41, 1}), true, 12},
      {"two CSRC", rtp({0x41}, 0x82, Bytes(8, 0)), true, 20},
      {"CSRC list reaching the end", rtp({}, 0x82, Bytes(8, 0)), false, 0},
      {"extension of one word", rtp({0x41}, 0x90, {0xBE, 0xDE, 0, 1, 1, 2, 3, 4}), true, 20},
      {"CSRC and extension", rtp({0x41}, 0x91, {9, 9, 9, 9, 0xBE, 0xDE, 0, 0}), true, 20},
      {"extension reaching the end", rtp({}, 0x90, {0xBE, 0xDE, 0, 1, 1, 2, 3, 4}), false, 0},
      {"extension longer than the packet", rtp({0x41}, 0x90, {0xBE, 0xDE, 0xFF, 0xFF}), false, 0},
      // Too short to hold the extension's length word: it is not skipped.
      {"extension flag without room", rtp({0x41, 2, 3}, 0x90), true, 12},
      {"version bits ignored", rtp({0x41}, 0x00), true, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t offset = 0;
    ASSERT_EQ(rtp_payload_offset(c.packet.data(), c.packet.size(), offset), c.has_payload);
    if (c.has_payload) {
      EXPECT_EQ(offset, c.offset);
    }
  }
}

TEST(Depacketizer, SingleUnitsGoWholeToDecodeAndShow) {
  DepacketizerState state;
  Submitted out;
  for (uint8_t type : {1, 5, 6, 7, 8, 23}) depacketize(rtp({uint8_t(0x60 | type), 0xAA, 0xBB}), state, out);
  ASSERT_EQ(out.units.size(), 6u);
  for (const auto& [kind, unit] : out.units) {
    EXPECT_EQ(kind, 'd');
    EXPECT_EQ(unit.size(), 3u);
  }
  EXPECT_EQ(out.units[1].second, (Bytes{0x65, 0xAA, 0xBB}));
}

TEST(Depacketizer, UnsupportedTypesAreDropped) {
  DepacketizerState state;
  Submitted out;
  for (uint8_t type : {0, 25, 26, 27, 29, 30, 31}) depacketize(rtp({type, 1, 2, 3, 4, 5}), state, out);
  EXPECT_TRUE(out.units.empty());
}

TEST(Depacketizer, StapAFeedsEachUnitWithoutFetchingPictures) {
  DepacketizerState state;
  Submitted out;
  depacketize(rtp({0x18, 0, 2, 0x67, 0x42, 0, 1, 0x68, 0, 0, 0, 2, 0x06, 0x05}), state, out);
  ASSERT_EQ(out.units.size(), 3u);  // the empty unit between is skipped
  EXPECT_EQ(out.units[0], (std::pair<char, Bytes>{'f', {0x67, 0x42}}));
  EXPECT_EQ(out.units[1], (std::pair<char, Bytes>{'f', {0x68}}));
  EXPECT_EQ(out.units[2], (std::pair<char, Bytes>{'f', {0x06, 0x05}}));
}

TEST(Depacketizer, StapAUnitRunningPastTheEndIsDroppedWithTheRest) {
  DepacketizerState state;
  Submitted out;
  depacketize(rtp({0x18, 0, 2, 0x67, 0x42, 0, 9, 0x68, 0xCE, 0, 1, 0x06}), state, out);
  ASSERT_EQ(out.units.size(), 1u);
  EXPECT_EQ(out.units[0].second, (Bytes{0x67, 0x42}));
  out.units.clear();
  depacketize(rtp({0x18, 0}), state, out);  // a lone size byte
  EXPECT_TRUE(out.units.empty());
}

TEST(Depacketizer, FuARebuildsTheUnitHeaderAndJoinsFragments) {
  DepacketizerState state;
  Submitted out;
  depacketize(rtp({0x7C, 0x85, 1, 2}), state, out);  // start, type 5, NRI 3
  EXPECT_TRUE(state.in_fragment);
  depacketize(rtp({0x7C, 0x05, 3}), state, out);
  depacketize(rtp({0x7C, 0x45, 4, 5}), state, out);  // end
  ASSERT_EQ(out.units.size(), 1u);
  EXPECT_EQ(out.units[0], (std::pair<char, Bytes>{'d', {0x65, 1, 2, 3, 4, 5}}));
  EXPECT_FALSE(state.in_fragment);
  // The forbidden bit of the indicator is kept too.
  depacketize(rtp({0xFC, 0xC1, 9}), state, out);  // start and end at once, type 1
  ASSERT_EQ(out.units.size(), 2u);
  EXPECT_EQ(out.units[1].second, (Bytes{0xE1, 9}));
}

TEST(Depacketizer, FuALostFragments) {
  DepacketizerState state;
  Submitted out;
  // Middle lost: submitted with the gap.
  depacketize(rtp({0x5C, 0x81, 1}), state, out);
  depacketize(rtp({0x5C, 0x41, 3}), state, out);
  ASSERT_EQ(out.units.size(), 1u);
  EXPECT_EQ(out.units[0].second, (Bytes{0x41, 1, 3}));
  // Start lost: middle and end are ignored.
  depacketize(rtp({0x5C, 0x01, 7}), state, out);
  depacketize(rtp({0x5C, 0x41, 8}), state, out);
  EXPECT_EQ(out.units.size(), 1u);
  // A new start discards the unfinished unit.
  depacketize(rtp({0x5C, 0x81, 1}), state, out);
  depacketize(rtp({0x5C, 0x85, 2}), state, out);
  depacketize(rtp({0x5C, 0x45, 3}), state, out);
  ASSERT_EQ(out.units.size(), 2u);
  EXPECT_EQ(out.units[1].second, (Bytes{0x45, 2, 3}));
  // A payload of one byte has no FU header: dropped, state untouched.
  depacketize(rtp({0x5C, 0x81}), state, out);
  depacketize(rtp({0x5C}), state, out);
  EXPECT_TRUE(state.in_fragment);
  EXPECT_EQ(state.fragment_buffer, (Bytes{0x41}));
}

TEST(Depacketizer, FragmentedUnitGrowingPastTheCapIsDroppedUntilTheNextStart) {
  DepacketizerState state;
  Submitted out;
  Bytes chunk(60000, 0xAB);
  chunk[0] = 0x7C;
  chunk[1] = 0x85;
  depacketize(rtp(chunk), state, out);
  chunk[1] = 0x05;
  const size_t middles = kMaxFragmentBytes / (chunk.size() - 2) + 1;
  for (size_t i = 0; i < middles; ++i) depacketize(rtp(chunk), state, out);
  EXPECT_FALSE(state.in_fragment);
  EXPECT_LE(state.fragment_buffer.capacity(), kMaxFragmentBytes);
  depacketize(rtp({0x7C, 0x45, 1}), state, out);  // the end of the dropped unit
  EXPECT_TRUE(out.units.empty());
  depacketize(rtp({0x7C, 0xC5, 1}), state, out);  // a fresh unit still works
  ASSERT_EQ(out.units.size(), 1u);
  EXPECT_EQ(out.units[0].second, (Bytes{0x65, 1}));
}

TEST(Depacketizer, OnlyChannelZeroIsDepacketised) {
  DepacketizerState state;
  Submitted out;
  InterleavedFrame frame;
  frame.data = rtp({0x41, 1});
  frame.channel = 1;
  handle_interleaved_frame(frame, state, out.sinks());
  EXPECT_TRUE(out.units.empty());
  frame.channel = 0;
  handle_interleaved_frame(frame, state, out.sinks());
  EXPECT_EQ(out.units.size(), 1u);
}

TEST(Depacketizer, EmptySinksAreSkippedAndSdpParameterSetsAreFed) {
  DepacketizerState state;
  NalSinks none;
  depacketize_h264(rtp({0x41, 1}).data(), 14, state, none);  // must not call an empty callable
  Submitted out;
  const std::string sdp = "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0LAFQ==,aM48gA==\r\n";
  EXPECT_EQ(feed_sdp_parameter_sets(sdp, out.sinks()), 2);
  ASSERT_EQ(out.units.size(), 2u);
  EXPECT_EQ(out.units[0], (std::pair<char, Bytes>{'f', {0x67, 0x42, 0xC0, 0x15}}));
  EXPECT_EQ(out.units[1].first, 'f');
  EXPECT_EQ(feed_sdp_parameter_sets("", none), 0);
}

}  // namespace
