// Random drawing: fills, blits, viewport operations, lines, shapes, screen
// save and restore and the row converter on surfaces of every format, with
// random rectangles and viewports. Guard bytes around every buffer must stay
// untouched, and every repaint must lie on the screen.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/pgl.h"
#include "host/platform/platform.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t U8() { return n ? (--n, *p++) : 0; }
  int32_t Coord() { return static_cast<int8_t>(U8()); }  // -128..127: clipping matters
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
};

constexpr uint8_t kGuardByte = 0xA5;
constexpr size_t kGuard = 32;

struct Buffer {
  std::vector<uint8_t> bytes;
  PglSurface s{};
  void Make(uint32_t format, uint32_t w, uint32_t h, uint32_t padding) {
    PglInitSurface(&s, w, h, format, 0x80, 0);
    if (format == kPglNibble) s.rowBytes = (w + 1) / 2;
    const uint32_t pitchBytes = (s.rowBytes + padding + 1) & ~1u;
    s.pitch = format == kPglRgb565 ? pitchBytes / 2 : pitchBytes;
    bytes.assign(2 * kGuard + size_t{pitchBytes} * h, 0);
    for (size_t i = 0; i < kGuard; ++i) bytes[i] = bytes[bytes.size() - 1 - i] = kGuardByte;
    s.pixels = bytes.data() + kGuard;
  }
  void CheckGuards() const {
    for (size_t i = 0; i < kGuard; ++i)
      Check(bytes[i] == kGuardByte && bytes[bytes.size() - 1 - i] == kGuardByte);
  }
};

int32_t gScreenW = 0, gScreenH = 0;

void Invalidate(void*, int32_t l, int32_t t, int32_t r, int32_t b) {
  Check(l >= 0 && t >= 0 && l <= r && t <= b && r < gScreenW && b < gScreenH);
}

PglDrawArgs Args(Input& in, PglSurface* s) {
  return {s, in.Coord(), in.Coord(), in.Coord(), in.Coord(), in.Coord(), in.Coord(),
          in.Coord(), in.Coord(), in.U8()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1 << 15);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8));
  MemSetEvictor(nullptr);
  static const PlatformOps ops = [] {
    PlatformOps o = Platform();
    o.invalidate = Invalidate;
    return o;
  }();
  const PlatformOps* old = PlatformInstall(&ops);

  Input in{data, size};
  static const uint32_t kFormats[] = {kPglMono, kPglGrey, kPglNibble, kPglCube, kPglRgb565};
  Buffer screenBuf;
  gScreenW = 1 + in.U8() % 48;
  gScreenH = 1 + in.U8() % 40;
  // The host's frame buffer: pitch rounded up to 4 pixels.
  const uint32_t pitch = (static_cast<uint32_t>(gScreenW) + 3) & ~3u;
  screenBuf.Make(kPglRgb565, static_cast<uint32_t>(gScreenW), static_cast<uint32_t>(gScreenH),
                 (pitch - static_cast<uint32_t>(gScreenW)) * 2);
  ShellSetScreenGeometry(gScreenW, gScreenH, reinterpret_cast<uint16_t*>(screenBuf.s.pixels));
  PglSurface screen;
  PglGetScreenSurface(&screen);

  Buffer bufs[3];
  for (Buffer& b : bufs) {
    const uint8_t f = in.U8();
    b.Make(kFormats[f % 5], 1 + in.U8() % 40, 1 + in.U8() % 24, f >> 5);
    if (f & 0x10) b.s.flags |= PglFlag::Keyed;
    b.s.key = in.U16();
  }
  auto pick = [&](uint8_t v) -> PglSurface* { return v % 4 == 3 ? &screen : &bufs[v % 4].s; };

  for (int step = 0; step < 64 && in.n; ++step) {
    const uint8_t op = in.U8();
    PglSurface* a = pick(op >> 4);
    PglSurface* b = pick(in.U8());
    const uint16_t c1 = in.U16(), c2 = in.U16();
    PglViewport vp{a, in.Coord(), in.Coord(), in.U8(), in.U8(), 0};
    PglDrawArgs args = Args(in, b);
    const PglRect r{in.Coord(), in.Coord(), in.Coord(), in.Coord()};
    const PglLine line{in.Coord(), in.Coord(), in.Coord(), in.Coord()};
    if (op & 8) {
      PglDrawArgs open{a, in.U8() % 64, in.U8() % 64, in.U8() % 64, in.U8() % 64, 0, 0, 0, 0, 0};
      PglOpenViewport(&vp, &open);
    }
    switch (op & 7) {
      case 0: PglFillRect(a, &r, in.U8() & 1, c1); break;
      case 1: {
        const PglBlitJob job{b, a, in.U8(), in.U8(), in.U8(), in.U8(), in.U8(), in.U8(), in.U8()};
        if (op & 0x40) PglBlitBottomUp(&job);
        else PglBlit(&job, c1, c2);
        break;
      }
      case 2:
        PglViewportBlit(&vp, &args, c1, c2);
        break;
      case 3:
        PglViewportFillRect(&vp, &args, c1);
        PglViewportInvertRect(&vp, &args);
        PglViewportFrameRect(&vp, &args, c2);
        PglViewportDrawSegment(&vp, &args, c1);
        break;
      case 4:
        PglViewportLine(&vp, &args, c1);
        PglViewportVLine(&vp, &args, c1);
        PglViewportHLine(&vp, &args, c2);
        break;
      case 5: {
        PglDrawLine(a, &line, c1);
        const PglPoint p{line.x0, line.y0};
        PglViewportSetPixel(&vp, &p, c2);
        PglDrawFrame(a, &r, c1);
        break;
      }
      case 6: {
        const PglRect clip = r;
        const PglPoint centre{line.x0, line.y0};
        PglDrawCircle(a, &clip, &centre, in.U8() % 64, c1);
        PglDrawClippedLine(a, &clip, &line, c2);
        PglDrawRectOutline(a, &clip, &r, c1);
        PglPoint pts[6];
        for (PglPoint& p : pts) p = {in.Coord(), in.Coord()};
        PglDrawPolygon(a, &clip, pts, 3 + in.U8() % 4, c2);
        break;
      }
      case 7: {
        PglViewport* saved = nullptr;
        if (PglAllocViewport(&saved) != kOk) break;
        if (PglSaveScreenRect(saved, &r) == kOk) {
          saved->x = in.Coord();
          saved->y = in.Coord();
          PglRestoreScreenRect(saved, &r);
          PglRestoreScreen(saved);
        }
        PglFreeSurface(&saved);
        PglRowConverter conv{};
        conv.bottomUp = in.U8() & 1;
        Buffer row;
        row.Make(kPglRgb565, 1 + in.U8() % 40, 1, 0);
        for (size_t i = kGuard; i + kGuard < row.bytes.size(); ++i) row.bytes[i] = in.U8();
        if (PglImageToSurface(&conv, &row.s, a, PglConv::Open)) {
          for (int k = 0; k < 30; ++k) PglImageToSurface(&conv, &row.s, a, 1 + in.U8() % 5);
          PglImageToSurface(&conv, &row.s, a, PglConv::Close);
        }
        row.CheckGuards();
        break;
      }
    }
  }
  for (const Buffer& b : bufs) b.CheckGuards();
  screenBuf.CheckGuards();
  Check(HeapValidate() == nullptr);
  ShellSetScreenGeometry(0, 0, nullptr);
  PlatformInstall(old);
  return 0;
}
