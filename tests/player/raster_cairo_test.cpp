// The plain mode's solid fills against cairo filling the same paths into a
// 16-bit image without antialiasing: away from the outlines (where the two
// sample a pixel at different points) every pixel must agree exactly.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <string>
#include <vector>

#include "raster_scene.h"

namespace {

using namespace anim_test;

constexpr int kSize = 96;  // pixels; 1,920 twips

struct Case {
  const char* name;
  Path path;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  Path polygon;
  AddPolygon(polygon, {{130, 90}, {1700, 410}, {1460, 1800}, {900, 1210}, {230, 1650}});
  cases.push_back({"polygon", polygon});
  Path blobs;
  AddBlob(blobs, 500, 500, 420);
  AddBlob(blobs, 1350, 600, 260);
  AddBlob(blobs, 960, 1400, 470);
  cases.push_back({"curves", blobs});
  Path holes;
  AddBox(holes, 100, 100, 1700, 1700);
  AddBox(holes, 400, 400, 500, 400, true);
  AddBlob(holes, 1200, 1250, 380, true);
  cases.push_back({"holes", holes});
  Path slivers;  // long thin slanted shapes and a spike
  AddPolygon(slivers, {{60, 100}, {1860, 300}, {1860, 520}, {60, 250}});
  AddPolygon(slivers, {{200, 1800}, {960, 700}, {1700, 1800}});
  cases.push_back({"slivers", slivers});
  return cases;
}

// Pixels within two of any outline point: there the two rasterizers may
// differ, one sampling a row at its top and the other at its centre.
std::vector<bool> NearOutline(const Path& path) {
  std::vector<bool> near(kSize * kSize, false);
  auto mark = [&](double px, double py) {
    for (int y = static_cast<int>(std::floor(py)) - 2; y <= static_cast<int>(std::floor(py)) + 2; ++y)
      for (int x = static_cast<int>(std::floor(px)) - 2; x <= static_cast<int>(std::floor(px)) + 2; ++x)
        if (x >= 0 && y >= 0 && x < kSize && y < kSize) near[static_cast<size_t>(y) * kSize + x] = true;
  };
  double x = 0, y = 0;
  for (const PathOp& op : path) {
    for (int i = 0; op.kind != PathOp::kMove && i <= 400; ++i) {
      const double t = i / 400.0, u = 1 - t;
      const double cx = op.kind == PathOp::kCurve ? op.cx : (x + op.x) / 2;
      const double cy = op.kind == PathOp::kCurve ? op.cy : (y + op.y) / 2;
      mark((u * u * x + 2 * u * t * cx + t * t * op.x) / 20, (u * u * y + 2 * u * t * cy + t * t * op.y) / 20);
    }
    x = op.x;
    y = op.y;
  }
  return near;
}

std::vector<bool> CairoCoverage(const Path& path) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB16_565, kSize, kSize);
  cairo_t* cr = cairo_create(surface);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_scale(cr, 1.0 / 20, 1.0 / 20);
  PathToCairo(cr, path);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_fill(cr);
  cairo_surface_flush(surface);
  std::vector<bool> filled(kSize * kSize);
  const uint8_t* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < kSize; ++y) {
    const auto* row = reinterpret_cast<const uint16_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    for (int x = 0; x < kSize; ++x) filled[static_cast<size_t>(y) * kSize + x] = row[x] == 0xF800;
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return filled;
}

TEST(PlayerRasterCairoTest, PlainFillInteriorsAgreeWithCairoExactly) {
  const uint16_t red = static_cast<uint16_t>(AnimColor_To16(248, 0, 0));
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Scene scene({ShapeTag(2, 1, {{248, 0, 0}}, {}, 1, 0, PathRecords(c.path))}, kSize, false);
    ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
    const std::vector<bool> theirs = CairoCoverage(c.path), near = NearOutline(c.path);
    int compared = 0, filled = 0, differ = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const size_t i = static_cast<size_t>(y) * kSize + x;
        if (near[i]) continue;
        const bool ours = scene.At(x, y) == red;
        EXPECT_TRUE(ours || scene.At(x, y) == 0) << x << "," << y;
        ++compared;
        filled += ours;
        if (ours != theirs[i] && ++differ <= 5) ADD_FAILURE() << "pixel " << x << "," << y << " ours " << ours;
      }
    EXPECT_EQ(differ, 0);
    // The comparison covers most of the frame, inside and outside alike.
    EXPECT_GT(compared, kSize * kSize / 2);
    EXPECT_GT(filled, kSize * kSize / 8);
    EXPECT_GT(compared - filled, kSize * kSize / 8);
  }
}

}  // namespace
