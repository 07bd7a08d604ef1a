// The player's rasterizer in nanoseconds per frame at 128, 176 and 240
// pixels square, plain and smooth, for five movies: curves, gradients, a
// bitmap, a text and 1,760 edges. Each frame clears the frame and draws
// every character uncached. Next to it cairo fills the same paths into a
// 16-bit image, without antialiasing for the plain mode and with it for the
// smooth one. AnimRedraw times a whole redraw of an unchanged frame of the
// same movies played through the host entry points, with the objects' edge
// caches (cached 1) and without (cached 0).
#include <benchmark/benchmark.h>

#include <cairo.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "player/anim_movie.h"
#include "player/anim_player.h"
#include "player/anim_raster.h"
#include "player/anim_shape.h"
#include "player/anim_text.h"
#include "tests/player/dct_encoder.h"
#include "tests/player/movie_writer.h"
#include "tests/player/shape_paths.h"

namespace {

using anim_test::Path;
using movie::Bytes;
using movie::Writer;

constexpr int32_t kSpace = 4800;  // twips: 240 pixels at 1:1
enum Movie { kCurves, kGradients, kBitmap, kText, kEdges };

// What one character draws, for cairo: a path and its paint.
struct Item {
  Path path;
  enum Paint { kSolid, kLinear, kRadial, kBitmapFill } paint = kSolid;
  uint8_t r = 0, g = 0, b = 0;
  int32_t x = 0, y = 0, size = 0;  // gradient centre and half width, or bitmap origin and texel size
};

struct Scene {
  Bytes tags;
  std::vector<Item> items;  // one character each, ids from 1
  bool text = false;        // the last character is a text of the glyph font
};

Bytes ShapeTag(uint16_t id, const Bytes& fill, const Path& path) {
  Writer w;
  w.U16(id).Rect(0, kSpace, 0, kSpace).U8(1).Raw(fill).U8(0).Bits(1, 4).Bits(0, 4).Raw(anim_test::PathRecords(path));
  return movie::Tag(2, w.bytes());
}

// Twelve blobs over the space, of several sizes.
std::vector<std::array<int32_t, 3>> Blobs() {
  std::vector<std::array<int32_t, 3>> blobs;
  for (int i = 0; i < 12; ++i) blobs.push_back({400 + (i % 4) * 1300, 600 + (i / 4) * 1600, 350 + (i * 137) % 500});
  return blobs;
}

constexpr uint8_t kStops[2][4] = {{0, 248, 200, 0}, {255, 0, 40, 248}};  // ratio, R, G, B

Scene Build(Movie movie) {
  Scene s;
  auto add = [&](Item item, const Bytes& fill) {
    const auto id = static_cast<uint16_t>(s.items.size() + 1);
    s.tags = movie::Concat({s.tags, ShapeTag(id, fill, item.path)});
    s.items.push_back(item);
  };
  switch (movie) {
    case kCurves:
    case kGradients:
      for (const auto& [x, y, r] : Blobs()) {
        Item item;
        anim_test::AddBlob(item.path, x, y, r);
        item.r = static_cast<uint8_t>(x / 20);
        item.g = static_cast<uint8_t>(y / 20);
        item.b = 128;
        if (movie == kCurves) {
          add(item, Writer().U8(0).U8(item.r).U8(item.g).U8(item.b).bytes());
          continue;
        }
        // The gradient square (32,768 twips) scaled onto the blob.
        item.paint = (x / 1300) % 2 ? Item::kRadial : Item::kLinear;
        item.x = x;
        item.y = y;
        item.size = r;
        Writer fill;
        fill.U8(item.paint == Item::kRadial ? 0x12 : 0x10).Matrix(x, y, r * 4, r * 4).U8(2);
        for (const auto& stop : kStops) fill.U8(stop[0]).U8(stop[1]).U8(stop[2]).U8(stop[3]);
        add(item, fill.bytes());
      }
      break;
    case kBitmap: {
      // A 64 x 64 coded bitmap of textured blocks, drawn in six rectangles.
      DctTestImage image;
      image.width = image.height = 64;
      uint32_t seed = 7;
      for (int k = 0; k < 16 * 6; ++k) {
        std::array<int32_t, 64> block{};
        for (int i : {0, 1, 8, 9}) {
          seed = seed * 1103515245 + 12345;
          block[i] = static_cast<int32_t>(seed >> 25) - 64;
        }
        image.blocks.push_back(block);
      }
      s.tags = movie::Bitmap(100, DctTestEncode(image));
      for (int i = 0; i < 6; ++i) {
        Item item;
        item.paint = Item::kBitmapFill;
        item.x = 100 + (i % 3) * 1560;
        item.y = 200 + (i / 3) * 2300;
        item.size = 16 + 6 * i;  // twips a texel
        anim_test::AddBox(item.path, item.x, item.y, 64 * item.size, 64 * item.size);
        add(item, Writer().U8(0x41).U16(100).Matrix(item.x, item.y, item.size << 16, item.size << 16).bytes());
      }
      break;
    }
    case kText: {
      std::vector<Bytes> glyphs;
      for (const Path& g : anim_test::GlyphPaths()) glyphs.push_back(anim_test::GlyphBytes(g));
      Writer text;
      text.U16(1).Rect(0, kSpace, 0, kSpace).Matrix(0, 0).U8(8).U8(12);
      for (int line = 0; line < 6; ++line) {
        text.U8(0x80 | 8 | 4 | 1 | 2).U16(50).U8(20 * line).U8(0).U8(200).U16(200).U16(700 + line * 700).U16(600);
        text.U8(12);
        for (int i = 0; i < 12; ++i) text.Bits((i + line) % 3, 8).SBits(370, 12);
        text.Align();
      }
      text.U8(0);
      s.tags = movie::Concat({movie::Font(10, 50, glyphs), movie::Tag(11, text.bytes())});
      s.text = true;
      break;
    }
    case kEdges: {
      // 440 diamonds, 1,760 edges in one shape over the whole space.
      Item item;
      for (int i = 0; i < 440; ++i) {
        const int32_t x = 100 + (i % 22) * 210, y = 100 + (i / 22) * 232;
        anim_test::AddPolygon(item.path, {{x + 100, y}, {x + 200, y + 110}, {x + 100, y + 220}, {x, y + 110}});
      }
      item.g = 200;
      add(item, Writer().U8(0).U8(0).U8(200).U8(0).bytes());
      break;
    }
  }
  return s;
}

// The player's side: a context over its own work buffer, the movie parsed,
// a raster over a frame of the given size.
class PlayerFrame {
 public:
  PlayerFrame(Movie movie, int32_t size, bool smooth) : scene_(Build(movie)), frame_(size_t(size) * size) {
    AnimPlayer_Init(&p_);
    p_.workBuffer = work_.data();
    AnimHeap_Reset(&p_.heap, work_.data());
    bytes_ = movie::Qvx(movie::Header{}, movie::Concat({scene_.tags, movie::ShowFrame(), movie::End()}));
    AnimStream_Init(&stream_, &p_, 0);
    AnimMovie_ReadHeader(&stream_, bytes_.data(), static_cast<uint32_t>(bytes_.size()));
    ok_ = AnimRaster_Init(&raster_, &p_, frame_.data(), size, size, size * 2, smooth);
    raster_.view.a = raster_.view.d = static_cast<float>(size) * 32.0f / kSpace;
    AnimRaster_SetBackground(&raster_, 240, 240, 240);
    AnimMatrix_SetIdentity(&identity_);
  }
  ~PlayerFrame() {
    AnimBitmap_FreeAll(&p_);
    AnimRaster_Free(&raster_);
    AnimStream_Free(&stream_);
  }
  bool ok() const { return ok_; }
  bool Draw() {
    AnimRaster_ClearFrame(&raster_);
    uint32_t bad = 0;
    for (uint16_t id = 1; id <= scene_.items.size(); ++id) {
      AnimChar* c = AnimDict_Find(stream_.dictionary, id);
      if (!c) return false;
      bad |= AnimShape_Draw(&raster_, static_cast<const AnimShape*>(c->body), &identity_, nullptr, nullptr);
    }
    if (scene_.text) {
      AnimChar* c = AnimDict_Find(stream_.dictionary, 1);
      if (!c) return false;
      bad |= AnimText_Draw(&raster_, static_cast<const AnimText*>(c->body), &identity_, nullptr);
    }
    return bad == kAnimShapeDrawn;
  }
  const Scene& scene() const { return scene_; }
  // The decoded bitmap's pixels as native 5-6-5 values, for cairo.
  std::vector<uint16_t> Bitmap565() const {
    std::vector<uint16_t> out;
    for (const AnimDecodedBitmap& slot : p_.bitmaps.slots) {
      if (slot.key != 100) continue;
      for (uint32_t i = 0; i < uint32_t{slot.width} * slot.height; ++i) {
        const uint32_t v = uint32_t{slot.pixels[2 * i]} << 8 | slot.pixels[2 * i + 1];
        const uint32_t g = (v >> 5) & 31;
        out.push_back(static_cast<uint16_t>(((v >> 10) & 31) << 11 | (g << 1 | g >> 4) << 5 | (v & 31)));
      }
    }
    return out;
  }

 private:
  Scene scene_;
  AnimPlayer p_{};
  std::vector<uint8_t> work_ = std::vector<uint8_t>(256000);
  std::vector<uint16_t> frame_;
  Bytes bytes_;
  AnimStream stream_{};
  AnimRaster raster_{};
  AnimMatrix identity_{};
  bool ok_ = false;
};

void AnimFrame(benchmark::State& state) {
  PlayerFrame frame(static_cast<Movie>(state.range(0)), static_cast<int32_t>(state.range(1)), state.range(2) != 0);
  if (!frame.ok() || !frame.Draw()) {
    state.SkipWithError("the movie did not draw");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(frame.Draw());
}

void CairoFrame(benchmark::State& state) {
  const int size = static_cast<int>(state.range(1));
  // The player decodes the bitmap once; cairo gets its pixels.
  PlayerFrame player(static_cast<Movie>(state.range(0)), 8, false);
  if (!player.ok() || !player.Draw()) {
    state.SkipWithError("the movie did not draw");
    return;
  }
  const Scene& scene = player.scene();
  std::vector<uint16_t> texels = player.Bitmap565();
  cairo_surface_t* image = nullptr;
  if (!texels.empty())
    image = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(texels.data()),
                                                CAIRO_FORMAT_RGB16_565, 64, 64, 128);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB16_565, size, size);
  cairo_t* cr = cairo_create(surface);
  cairo_set_antialias(cr, state.range(2) ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  cairo_scale(cr, size / double(kSpace), size / double(kSpace));
  std::vector<Path> glyphs = anim_test::GlyphPaths();
  for (auto _ : state) {
    cairo_set_source_rgb(cr, 240 / 255.0, 240 / 255.0, 240 / 255.0);
    cairo_paint(cr);
    for (const Item& item : scene.items) {
      anim_test::PathToCairo(cr, item.path);
      cairo_pattern_t* pattern = nullptr;
      switch (item.paint) {
        case Item::kSolid: cairo_set_source_rgb(cr, item.r / 255.0, item.g / 255.0, item.b / 255.0); break;
        case Item::kLinear:
        case Item::kRadial:
          pattern = item.paint == Item::kLinear
                        ? cairo_pattern_create_linear(item.x - item.size, 0, item.x + item.size, 0)
                        : cairo_pattern_create_radial(item.x, item.y, 0, item.x, item.y, item.size);
          for (const auto& stop : kStops)
            cairo_pattern_add_color_stop_rgb(pattern, stop[0] / 255.0, stop[1] / 255.0, stop[2] / 255.0,
                                             stop[3] / 255.0);
          break;
        case Item::kBitmapFill: {
          pattern = cairo_pattern_create_for_surface(image);
          cairo_matrix_t m;
          cairo_matrix_init(&m, 1.0 / item.size, 0, 0, 1.0 / item.size, -item.x / double(item.size),
                            -item.y / double(item.size));
          cairo_pattern_set_matrix(pattern, &m);
          cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
          break;
        }
      }
      if (pattern) cairo_set_source(cr, pattern);
      cairo_fill(cr);
      if (pattern) cairo_pattern_destroy(pattern);
    }
    if (scene.text) {
      for (int line = 0; line < 6; ++line)
        for (int i = 0; i < 12; ++i) {
          cairo_save(cr);
          cairo_translate(cr, 200 + 370 * i, 700 + line * 700);
          cairo_scale(cr, 0.6, 0.6);
          anim_test::PathToCairo(cr, glyphs[(i + line) % 3]);
          cairo_restore(cr);
        }
      cairo_set_source_rgb(cr, 0, 0, 0.8);
      cairo_fill(cr);
    }
    cairo_surface_flush(surface);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  if (image) cairo_surface_destroy(image);
}

// The movie's characters placed in its first frame, a second frame that
// leaves them alone: stepped there, every shape object keeps its edges.
void AnimRedraw(benchmark::State& state) {
  const Scene scene = Build(static_cast<Movie>(state.range(0)));
  const auto size = static_cast<int32_t>(state.range(1));
  Bytes places;
  const size_t count = scene.text ? 1 : scene.items.size();
  for (uint16_t id = 1; id <= count; ++id) places = movie::Concat({places, movie::Place(id, id, 0, 0)});
  movie::Header header;
  header.xmax = header.ymax = kSpace;
  header.frames = 2;
  const Bytes data = movie::Qvx(header, movie::Concat({scene.tags, movie::Background(240, 240, 240), places,
                                                      movie::ShowFrame(), movie::ShowFrame(), movie::End()}));
  auto player = std::make_unique<AnimPlayer>();
  std::vector<uint8_t> work(256000);
  std::vector<uint16_t> frame(size_t(size) * size);
  AnimPlayer_Init(player.get());
  int32_t w = size, h = size;
  if (AnimHost_Open(player.get(), data.data(), frame.data(), work.data(), static_cast<uint32_t>(data.size()), &w, &h) !=
          0 ||
      AnimHost_Step(player.get()) != 0) {
    state.SkipWithError("the movie did not play");
    return;
  }
  const bool smooth = state.range(2) != 0;
  AnimMovie* m = player->movie;
  // The smooth or the plain mode; a case that cannot draw in it measures nothing.
  if (AnimPlayer_Command(player.get(), 4, smooth ? 7 : 8) != 0 || !m || !m->raster.ready ||
      (m->raster.smooth != 0) != smooth) {
    state.SkipWithError("the movie cannot draw in this mode");
    return;
  }
  m->raster.cacheMode = state.range(3) ? 0 : 1;
  AnimMovie_InvalidateAll(m);
  // Every pixel comes from the redraw: none keeps the mark, and the
  // characters cover part of the frame.
  std::fill(frame.begin(), frame.end(), uint16_t{0x8000});
  AnimMovie_InvalidateAll(m);
  const uint16_t background = static_cast<uint16_t>(AnimColor_To16(240, 240, 240));
  const auto covered = std::count_if(frame.begin(), frame.end(), [&](uint16_t v) { return v != background; });
  if (AnimPlayer_Aborted(player.get()) || std::count(frame.begin(), frame.end(), uint16_t{0x8000}) != 0 ||
      covered < static_cast<std::ptrdiff_t>(frame.size() / 50)) {
    state.SkipWithError("the redraw drew nothing");
    return;
  }
  int kept = 0;
  for (const AnimDisplayObject* o = AnimMovie_Root(m)->list.first; o; o = o->next) kept += o->cache.hasCache != 0;
  state.counters["kept"] = kept;  // objects redrawn from their edges
  for (auto _ : state) {
    AnimMovie_InvalidateAll(m);
    benchmark::DoNotOptimize(frame.data());
  }
  if (AnimPlayer_Aborted(player.get()) || !m->raster.ready) state.SkipWithError("the redraws stopped drawing");
  AnimHost_Close(player.get());
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"movie", "size", "smooth"});
  b->ArgsProduct({{kCurves, kGradients, kBitmap, kText, kEdges}, {128, 176, 240}, {0, 1}});
  b->Unit(benchmark::kNanosecond);
}

BENCHMARK(AnimFrame)->Apply(Sizes);
BENCHMARK(CairoFrame)->Apply(Sizes);
BENCHMARK(AnimRedraw)
    ->ArgNames({"movie", "size", "smooth", "cached"})
    ->ArgsProduct({{kCurves, kGradients, kBitmap, kText, kEdges}, {128, 176, 240}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kNanosecond);

}  // namespace
