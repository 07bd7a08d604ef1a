// The video decoder over streams written by a test encoder (header, chunks,
// frames of DC bytes and AC codes of the published JPEG luminance table),
// and the hand-off from a movie to its video and on to the next movie.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "movie_writer.h"
#include "player_support.h"

namespace {

using movie::Bytes;

// ITU-T T.81 Table K.5, as code counts by length and values in code order.
const uint8_t kCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
const char kValues[] =
    "\x01\x02\x03\x00\x04\x11\x05\x12\x21\x31\x41\x06\x13\x51\x61\x07\x22\x71\x14\x32\x81\x91\xa1\x08\x23\x42\xb1"
    "\xc1\x15\x52\xd1\xf0\x24\x33\x62\x72\x82\x09\x0a\x16\x17\x18\x19\x1a\x25\x26\x27\x28\x29\x2a\x34\x35\x36\x37"
    "\x38\x39\x3a\x43\x44\x45\x46\x47\x48\x49\x4a\x53\x54\x55\x56\x57\x58\x59\x5a\x63\x64\x65\x66\x67\x68\x69\x6a"
    "\x73\x74\x75\x76\x77\x78\x79\x7a\x83\x84\x85\x86\x87\x88\x89\x8a\x92\x93\x94\x95\x96\x97\x98\x99\x9a\xa2\xa3"
    "\xa4\xa5\xa6\xa7\xa8\xa9\xaa\xb2\xb3\xb4\xb5\xb6\xb7\xb8\xb9\xba\xc2\xc3\xc4\xc5\xc6\xc7\xc8\xc9\xca\xd2\xd3"
    "\xd4\xd5\xd6\xd7\xd8\xd9\xda\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8\xe9\xea\xf1\xf2\xf3\xf4\xf5\xf6\xf7\xf8\xf9\xfa";

struct Code {
  uint32_t bits, length;
};
std::map<uint8_t, Code> Codes() {
  std::map<uint8_t, Code> out;
  uint32_t code = 0, k = 0;
  for (uint32_t len = 1; len <= 16; ++len, code <<= 1)
    for (uint32_t i = 0; i < kCounts[len - 1]; ++i) out[static_cast<uint8_t>(kValues[k++])] = {code++, len};
  return out;
}

class BitWriter {
 public:
  void Put(uint32_t v, uint32_t n) {
    for (uint32_t i = n; i-- > 0;) {
      if (used_ % 8 == 0) out_.push_back(0);
      if ((v >> i) & 1) out_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
  }
  const Bytes& bytes() const { return out_; }

 private:
  Bytes out_;
  uint32_t used_ = 0;
};

// One block: its DC byte and AC values by zigzag index (1..63).
struct Block {
  uint8_t dc = 128;
  std::map<uint32_t, int32_t> ac;
};

void EncodeBlock(BitWriter& w, const Block& b) {
  static const std::map<uint8_t, Code> codes = Codes();
  uint32_t k = 1;
  for (const auto& [index, value] : b.ac) {
    uint32_t run = index - k;
    while (run >= 16) {
      w.Put(codes.at(0xF0).bits, codes.at(0xF0).length);
      run -= 16;
    }
    uint32_t size = 0;
    for (uint32_t a = static_cast<uint32_t>(value < 0 ? -value : value); a; a >>= 1) ++size;
    const Code& c = codes.at(static_cast<uint8_t>(run << 4 | size));
    w.Put(c.bits, c.length);
    w.Put(static_cast<uint32_t>(value < 0 ? value + (1 << size) - 1 : value), size);
    k = index + 1;
  }
  if (k < 64) w.Put(codes.at(0x00).bits, codes.at(0x00).length);
}

// A frame of macroblocks, six blocks each.
Bytes Frame(const std::vector<std::array<Block, 6>>& macroblocks) {
  Bytes out;
  BitWriter w;
  for (const auto& mb : macroblocks)
    for (const Block& b : mb) {
      out.push_back(b.dc);
      EncodeBlock(w, b);
    }
  const Bytes& ac = w.bytes();
  out.push_back(static_cast<uint8_t>(ac.size() >> 8));
  out.push_back(static_cast<uint8_t>(ac.size()));
  out.insert(out.end(), ac.begin(), ac.end());
  return out;
}

void Be(Bytes& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes Video(uint16_t w, uint16_t h, const std::vector<Bytes>& frames, uint8_t fps = 10, const Bytes& sound = {}) {
  Bytes out{'Q', 'Y', 'V', 'P', 0, 0};
  Be(out, 0, 4);
  out.push_back(fps);
  Be(out, w, 2);
  Be(out, h, 2);
  out.push_back(21);
  Bytes chunk;
  for (const Bytes& f : frames) {
    Be(chunk, static_cast<uint32_t>(f.size()), 2);
    chunk.insert(chunk.end(), f.begin(), f.end());
  }
  Be(chunk, 0, 2);
  out.push_back(1);
  Be(out, static_cast<uint32_t>(chunk.size()), 4);
  out.insert(out.end(), chunk.begin(), chunk.end());
  if (!sound.empty()) {
    out.push_back(2);
    Be(out, static_cast<uint32_t>(sound.size()), 4);
    out.insert(out.end(), sound.begin(), sound.end());
  }
  return out;
}

// Grey of a luma sample with neutral chroma, as a 5-5-5 pixel.
uint16_t Grey(int32_t y) {
  int32_t v = (1192 * (y - 16)) >> 10;
  v = v < 0 ? 0 : v > 255 ? 255 : v;
  return static_cast<uint16_t>((v >> 3) << 10 | (v >> 3) << 5 | (v >> 3));
}

std::array<Block, 6> Flat(uint8_t luma) {
  std::array<Block, 6> mb{};
  for (int i = 0; i < 4; ++i) mb[i].dc = luma;
  return mb;
}

struct Decoder : TestPlayer {
  explicit Decoder(int32_t w = 176, int32_t h = 208) {
    frame.assign(static_cast<size_t>(w) * h, 0);
    player->frameWidth = w;
    player->frameHeight = h;
    player->frameBuffer = frame.data();
  }
  uint32_t Open(const Bytes& v, int32_t cx, int32_t cy) {
    data = v;
    const AnimVideoArgs args{nullptr, data.data(), static_cast<uint32_t>(data.size()), cx, cy, 0};
    return AnimVideo_Open(get(), kAnimVideoOpen, &args);
  }
  uint32_t Next() { return AnimVideo_Open(get(), kAnimVideoNext, nullptr); }
  uint16_t At(int x, int y) const { return frame[static_cast<size_t>(y) * player->frameWidth + x]; }
  Bytes data;
};

TEST(PlayerVideo, FlatBlocksGiveTheirDcAndOneCoefficientFollowsTheTransform) {
  Decoder d(32, 16);
  std::array<Block, 6> mb = Flat(200);
  mb[1].ac[1] = 8;  // Y2: one horizontal coefficient
  ASSERT_EQ(d.Open(Video(16, 16, {Frame({mb})}), 50 * 32, 50 * 16), 0u);
  EXPECT_EQ(d.player->video.x, 8);
  ASSERT_EQ(d.Next(), 0u);
  for (int x = 8; x < 16; ++x) EXPECT_EQ(d.At(x, 3), Grey(200)) << x;
  // 8 << 4 at (0, 1), through the shift-and-add network, around a DC of 128 x 16.
  const int32_t row[8] = {132, 131, 130, 128, 127, 126, 124, 124};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(d.At(16 + x, 3), Grey(row[x] - 128 + 200)) << x;
  EXPECT_EQ(d.Next(), kAnimVideoEnded);
  EXPECT_EQ(d.Next(), kAnimVideoEnded);
  AnimVideo_Open(d.get(), kAnimVideoClose, nullptr);
}

TEST(PlayerVideo, PlacementKeepsTheVideoInsideTheFrame) {
  const Bytes v = Video(32, 16, {Frame({Flat(100), Flat(100)})});
  struct Case {
    int32_t cx, cy, x, y;
  };
  for (const Case c : {Case{50 * 176, 50 * 208, 72, 96}, Case{100 * 176, 0, 144, 0}, Case{-5000, 99999999, 0, 192}}) {
    Decoder d;
    ASSERT_EQ(d.Open(v, c.cx, c.cy), 0u);
    EXPECT_EQ(d.player->video.x, c.x);
    EXPECT_EQ(d.player->video.y, c.y);
    ASSERT_EQ(d.Next(), 0u);
    EXPECT_EQ(d.At(c.x, c.y), Grey(100));
    AnimVideo_Open(d.get(), kAnimVideoClose, nullptr);
  }
}

// A video wider than the frame starts left of it: only the macroblocks
// wholly inside the frame are drawn, nothing outside the buffer.
TEST(PlayerVideo, AVideoWiderThanTheFrameDrawsOnlyWhatFits) {
  Decoder d(32, 16);
  ASSERT_EQ(d.Open(Video(48, 16, {Frame({Flat(50), Flat(100), Flat(150)})}), 100 * 32, 0), 0u);
  EXPECT_EQ(d.player->video.x, -16);
  ASSERT_EQ(d.Next(), 0u);
  EXPECT_EQ(d.At(0, 0), Grey(100));
  EXPECT_EQ(d.At(31, 15), Grey(150));
  AnimVideo_Open(d.get(), kAnimVideoClose, nullptr);
}

TEST(PlayerVideo, RefusedAndCutStreamsEndCleanly) {
  Decoder d;
  Bytes v = Video(16, 16, {Frame({Flat(50)}), Frame({Flat(60)})});
  Bytes wrong = v;
  wrong[0] = 'X';
  EXPECT_EQ(d.Open(wrong, 0, 0), 1u);
  EXPECT_EQ(d.Open({}, 0, 0), 0u);
  EXPECT_EQ(d.Next(), kAnimVideoEnded);  // nothing was opened
  for (size_t n = 0; n < v.size(); ++n) {
    Decoder cut;
    cut.Open(Bytes(v.begin(), v.begin() + static_cast<ptrdiff_t>(n)), 0, 0);
    uint32_t frames = 0;
    while (cut.Next() == 0 && frames < 10) ++frames;
    EXPECT_LE(frames, 2u);
  }
}

TEST(PlayerVideo, AMovieHandsOverToItsVideoAndThenToTheNextMovie) {
  const Bytes video = Video(16, 16, {Frame({Flat(235)}), Frame({Flat(235)})});
  movie::Header h;
  h.frames = 2;
  const Bytes first = movie::Qvx(h, movie::Concat({movie::ShowFrame(),
                                                    movie::Actions(movie::Concat({movie::GetUrl("video://clip?x=0&y=0&next=next.qvx", ""),
                                                                                 movie::EndActions()})),
                                                    movie::ShowFrame(), movie::End()}));
  const Bytes next = movie::Qvx({}, movie::Concat({movie::Background(0, 0, 248), movie::ShowFrame(), movie::End()}));
  const Bytes package = movie::Qvz({{"first", first}, {"clip", video}, {"next.qvx", next}});
  TestPlayer p;
  int32_t w = 176, hh = 208;
  ASSERT_EQ(AnimHost_Open(p.get(), package.data(), p.frame.data(), p.work.data(), static_cast<uint32_t>(package.size()), &w, &hh), 0u);
  ASSERT_EQ(AnimHost_Step(p.get()), 0u);  // frame 1 asks for the video
  EXPECT_EQ(p->videoRequested, 1u);
  ASSERT_EQ(AnimHost_Step(p.get()), 0u);  // the video starts
  EXPECT_EQ(p->videoPlaying, 1u);
  EXPECT_EQ(p->movie, nullptr);
  // A restart during the video goes back to the movie that asked for it.
  AnimPlayer_Command(p.get(), 4, 3);
  EXPECT_EQ(p->videoPlaying, 0u);
  ASSERT_NE(p->movie, nullptr);
  EXPECT_EQ(AnimMovie_Root(p->movie)->currentFrame, 0u);
  ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  EXPECT_EQ(p->videoPlaying, 1u);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  EXPECT_EQ(p.frame[0], 0x7FFF);  // white video frames
  ASSERT_EQ(AnimHost_Step(p.get()), 0u);  // the end: the next movie loads
  EXPECT_EQ(p->videoPlaying, 0u);
  ASSERT_NE(p->movie, nullptr);
  EXPECT_EQ(p.frame[100 * 176 + 100], 0x001F);
  AnimHost_Close(p.get());
}

}  // namespace
