// The animation's vector primitives on an 8-bit frame of W x H bytes (one
// byte a pixel, rows of W). Every pixel write is clipped on its own, so
// shapes may reach past the frame. Angles are 256ths of a turn, 0 right,
// 64 down.
#pragma once
#include <cstdint>

#include "graphics/blit.h"

void SisDrawLine(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                 uint32_t colour);
// 1 for a thickness below 1, else 0.
int SisDrawThickLine(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     int32_t thickness, uint32_t colour, uint32_t caps, uint32_t unused);
int SisDrawEllipse(uint8_t* f, uint32_t w, uint32_t h, int32_t cx, int32_t cy, int32_t rx, int32_t ry,
                   uint32_t start, uint32_t end, int32_t thickness, uint32_t outline, uint32_t fill,
                   uint32_t noFill);
int SisDrawPolygon(uint8_t* f, uint32_t w, uint32_t h, uint32_t n, const uint8_t* xs, const uint8_t* ys,
                   int32_t thickness, uint32_t colour, uint32_t fill, uint32_t noFill);
int SisDrawPolyline(uint8_t* f, uint32_t w, uint32_t h, uint32_t n, const uint8_t* xs, const uint8_t* ys,
                    int32_t thickness, uint32_t colour);
int SisDrawRect(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                int32_t thickness, uint32_t colour, uint32_t fill, uint32_t noFill);
int SisFillHalfPlane(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     uint32_t colour);
int SisMaskOutsideEllipse(uint8_t* f, uint32_t w, uint32_t h, int32_t cx, int32_t cy, int32_t rx,
                          int32_t ry, uint32_t colour);
int SisMaskOutsideRect(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                       uint32_t colour);
// Blends `count` source pixels over the destination with the placement's
// opacity; mode 2 leaves pixels under the object's key colour.
int SisBlendImages(const uint8_t* src, uint8_t* dst, const BlitBitmap* d, const SafObject* o,
                   uint32_t count);
