// Pgl (module 14): the engine's 2-D graphics on memory surfaces.
//
// A surface holds pixels in one of five formats; the screen surface is the
// host's RGB565 frame buffer, and every operation that changes its pixels
// ends by invalidating exactly the changed rectangle of the host window.
// Rectangles are inclusive {left, top, right, bottom}. Pgl keeps no state of
// its own: everything lives in the records the callers pass.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

// The format code, kept in the low 4 bits of a surface's flags.
enum PglPixelFormat : uint32_t {
  kPglMono = 1,    // 1 bit, 8 to a byte, bit 0 leftmost; 1 ink, 0 background
  kPglGrey = 2,    // 2-bit grey codes, 4 to a byte, bits 0-1 leftmost; 0 white .. 3 black
  kPglNibble = 3,  // 4 bits, low nibble leftmost; only the fill takes it
  kPglCube = 4,    // 8-bit index into the 6 x 6 x 6 colour cube
  kPglRgb565 = 8,  // 16 bits, red in 11-15, green 5-10, blue 0-4
};

namespace PglFlag {
constexpr uint32_t Format = 0xF;
constexpr uint32_t Inline = 0x10;  // pixels follow the header in one allocation
constexpr uint32_t Keyed = 0x20;   // transparency or key colour in force as a blit source
constexpr uint32_t Screen = 0x40;
constexpr uint32_t Kept = 0x180;  // carried along, never interpreted
}  // namespace PglFlag

namespace PglErr {
constexpr Result NoMemory = 0x800e0001;
constexpr Result BadRect = 0x800e0002;
constexpr Result BadFormat = 0x800e8002;
constexpr Result NoPixels = 0x800e8004;
}  // namespace PglErr

// The use code of every Pgl allocation.
constexpr uint32_t kPglUse = 5;

struct PglSurface {
  uint8_t* pixels;  // null while there is no buffer; unused when Inline
  uint32_t width;
  uint32_t height;
  uint32_t rowBytes;
  uint32_t pitch;  // start to start of rows: pixels for RGB565, bytes otherwise
  uint32_t flags;
  uint16_t key;  // the RGB565 value a keyed blit skips
};

struct PglRect {
  int32_t left, top, right, bottom;
};

struct PglPoint {
  int32_t x, y;
};

struct PglLine {
  int32_t x0, y0, x1, y1;
};

struct PglViewport {
  PglSurface* surface;
  int32_t x, y;  // top-left corner on the surface
  uint32_t width, height;
  uint32_t flags;
};

namespace PglVpFlag {
constexpr uint32_t Clear = 0x8000;  // PglOpenViewport clears to colour 0
constexpr uint32_t BlitMode = 0x1F;
}  // namespace PglVpFlag

// The argument record of the viewport operations. Blits take target left and
// top as the position; lines take them as the first and right, bottom as the
// second end point; fills and frames take the target rectangle.
struct PglDrawArgs {
  PglSurface* surface;
  int32_t srcLeft, srcTop, srcRight, srcBottom;
  int32_t left, top, right, bottom;
  uint32_t flags;
};

namespace PglMode {
constexpr uint32_t Transparent = 0x02;  // zero source pixels leave the target alone
constexpr uint32_t Recolour = 0x10;     // non-zero in colour 1, zero (opaque) in colour 2
}  // namespace PglMode

struct PglBlitJob {
  const PglSurface* source;
  PglSurface* target;
  uint32_t left, top, right, bottom;  // source rectangle
  uint32_t x, y;                      // target position
  uint32_t mode;
};

// Decoders hand rows to a surface through this; see PglImageToSurface.
struct PglRowConverter {
  int32_t* errors;    // the row being written
  int32_t* previous;  // the row written before it
  uint8_t* targetRow;
  uint32_t width;
  uint32_t pixelCount;
  uint32_t targetPitch;
  uint32_t rowCounter;
  uint32_t state;  // bit 0 open
  void (*rowOp)(PglRowConverter* conv, const uint16_t* source);
  uint32_t bottomUp;  // set by the caller before opening
  // The target's rows, so that a converter never writes past them.
  PglSurface* target;
  int32_t targetIndex;
  // Counted by PglShrinkRowToScreen.
  uint32_t rowsIn;
  uint32_t rowsOut;
};

namespace PglConv {
constexpr uint32_t Open = 1, NewTarget = 2, Skip = 3, Convert = 4, Close = 5;
}

struct ContentImage;

// Sizes and headers.
Result PglSurfaceSize(uint32_t* size, uint32_t width, uint32_t height, uint32_t format,
                      uint32_t ignored, uint32_t flags);
void PglInitSurface(PglSurface* surface, uint32_t width, uint32_t height, uint32_t format,
                    uint32_t extraFlags, uint32_t inlineFlags);
void PglFreeSurfacePixels(PglSurface* surface);
void PglGetScreenSurface(PglSurface* surface);
Result PglAllocViewport(PglViewport** out);
void PglFreeSurface(PglViewport** viewport);
Result PglClearSurface(PglSurface* surface, uint16_t colour);
// The pixel data of a surface: inline after the header, or the pixels field.
uint8_t* PglPixels(const PglSurface* surface);
inline uint32_t PglFormatOf(const PglSurface* surface) { return surface->flags & PglFlag::Format; }

// Screen save and restore.
// Rows at the bottom of the screen that the browser window keeps for itself:
// restored screen areas are cut at the top of this band. The browser window
// sets it while it runs; 0 otherwise.
void PglSetBottomBand(uint32_t rows);
Result PglSaveScreenRect(PglViewport* viewport, const PglRect* rect);
Result PglRestoreScreenRect(const PglViewport* viewport, const PglRect* rect);
Result PglRestoreScreen(const PglViewport* viewport);
constexpr Result kPglRestoreRefused = 0xFFFFFFFF;

// Images.
Result PglSurfaceFromImage(PglViewport* viewport, const ContentImage* image, int animated);
uint32_t PglImageToSurface(PglRowConverter* conv, const PglSurface* source, PglSurface* target,
                           uint32_t operation);

// Fill and blit.
Result PglFillRect(PglSurface* surface, const PglRect* rect, int invert, uint16_t colour);
Result PglBlit(const PglBlitJob* job, uint16_t colour1, uint16_t colour2);
Result PglBlitWhole(PglBlitJob* job, uint16_t colour1, uint16_t colour2);
Result PglBlitBottomUp(const PglBlitJob* job);

// Viewports: coordinates relative to the viewport, clipped to it.
Result PglOpenViewport(PglViewport* viewport, const PglDrawArgs* args);
Result PglClearViewport(const PglViewport* viewport, uint16_t colour);
Result PglInvertViewport(const PglViewport* viewport);
Result PglViewportFillRect(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour);
Result PglViewportInvertRect(const PglViewport* viewport, const PglDrawArgs* args);
Result PglViewportFrameRect(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour);
Result PglViewportDrawSegment(const PglViewport* viewport, const PglDrawArgs* args,
                              uint16_t colour);
Result PglViewportVLine(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour);
Result PglViewportHLine(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour);
// End points in surface coordinates.
Result PglViewportLine(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour);
Result PglViewportSetPixel(const PglViewport* viewport, const PglPoint* point, uint16_t colour);
Result PglViewportBlit(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour1,
                       uint16_t colour2);
Result PglFitToScreenWidth(uint32_t width, uint32_t height, uint32_t* outWidth,
                           uint32_t* outHeight);
Result PglShrinkRowToScreen(PglRowConverter* conv, PglSurface* row);

// Lines and shapes.
Result PglDrawLine(PglSurface* surface, const PglLine* line, uint16_t colour);
Result PglDrawVLine(PglSurface* surface, const PglLine* line, uint16_t colour);
Result PglDrawHLine(PglSurface* surface, const PglLine* line, uint16_t colour);
Result PglDrawBresenham(PglSurface* surface, const PglLine* line, uint16_t colour);
Result PglSetPixel(PglSurface* surface, const PglPoint* point, uint16_t colour);
Result PglDrawFrame(PglSurface* surface, const PglRect* rect, uint16_t colour);
Result PglSetPixelClipped(PglSurface* surface, const PglRect* clip, const PglPoint* point,
                          uint16_t colour);
Result PglDrawClippedLine(PglSurface* surface, const PglRect* clip, const PglLine* line,
                          uint16_t colour);
Result PglDrawCircle(PglSurface* surface, const PglRect* clip, const PglPoint* centre,
                     int32_t radius, uint16_t colour);
Result PglDrawRectOutline(PglSurface* surface, const PglRect* clip, const PglRect* rect,
                          uint16_t colour);
Result PglDrawPolygon(PglSurface* surface, const PglRect* clip, const PglPoint* points,
                      uint32_t count, uint16_t colour);
constexpr Result kPglShapeRefused = 2;  // the shapes' "nothing to draw" answer
