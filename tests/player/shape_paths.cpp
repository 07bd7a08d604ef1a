#include "tests/player/shape_paths.h"

namespace anim_test {

void AddPolygon(Path& path, const std::vector<std::pair<int32_t, int32_t>>& points) {
  if (points.empty()) return;
  path.push_back({PathOp::kMove, points[0].first, points[0].second, 0, 0});
  for (size_t i = 1; i <= points.size(); ++i) {
    const auto& p = points[i % points.size()];
    path.push_back({PathOp::kLine, p.first, p.second, 0, 0});
  }
}

void AddBlob(Path& path, int32_t x, int32_t y, int32_t r, bool reversed) {
  // Four quarter curves whose controls sit on the corners of the square.
  const int32_t s = reversed ? -1 : 1;
  path.push_back({PathOp::kMove, x + r, y, 0, 0});
  path.push_back({PathOp::kCurve, x, y + s * r, x + r, y + s * r});
  path.push_back({PathOp::kCurve, x - r, y, x - r, y + s * r});
  path.push_back({PathOp::kCurve, x, y - s * r, x - r, y - s * r});
  path.push_back({PathOp::kCurve, x + r, y, x + r, y - s * r});
}

void AddBox(Path& path, int32_t x, int32_t y, int32_t w, int32_t h, bool reversed) {
  if (reversed) AddPolygon(path, {{x, y}, {x, y + h}, {x + w, y + h}, {x + w, y}});
  else AddPolygon(path, {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
}

movie::Bytes PathRecords(const Path& path) {
  Records r(1, 0);
  int32_t x = 0, y = 0;
  bool first = true;
  for (const PathOp& op : path) {
    switch (op.kind) {
      case PathOp::kMove:
        r.Change(-1, first ? 1 : -1, -1, true, op.x, op.y);
        first = false;
        break;
      case PathOp::kLine:
        if (op.x != x || op.y != y) r.To(op.x - x, op.y - y);
        break;
      case PathOp::kCurve:
        r.Curve(op.cx - x, op.cy - y, op.x - op.cx, op.y - op.cy);
        break;
    }
    x = op.x;
    y = op.y;
  }
  return r.End();
}

void PathToCairo(cairo_t* cr, const Path& path) {
  double x = 0, y = 0;
  for (const PathOp& op : path) {
    switch (op.kind) {
      case PathOp::kMove: cairo_move_to(cr, op.x, op.y); break;
      case PathOp::kLine: cairo_line_to(cr, op.x, op.y); break;
      case PathOp::kCurve: {
        // A quadratic curve as the cubic with controls two thirds of the way to its control point.
        const double cx = op.cx, cy = op.cy;
        cairo_curve_to(cr, x + 2.0 / 3.0 * (cx - x), y + 2.0 / 3.0 * (cy - y), op.x + 2.0 / 3.0 * (cx - op.x),
                       op.y + 2.0 / 3.0 * (cy - op.y), op.x, op.y);
        break;
      }
    }
    x = op.x;
    y = op.y;
  }
}

std::vector<Path> GlyphPaths() {
  Path l, t, o;
  AddPolygon(l, {{100, -800}, {250, -800}, {250, -150}, {600, -150}, {600, 0}, {100, 0}});
  AddPolygon(t, {{50, -800}, {650, -800}, {650, -650}, {425, -650}, {425, 0}, {275, 0}, {275, -650}, {50, -650}});
  AddBlob(o, 350, -400, 380);
  return {l, t, o};
}

movie::Bytes GlyphBytes(const Path& glyph) { return movie::Concat({{0x10}, PathRecords(glyph)}); }

}  // namespace anim_test
