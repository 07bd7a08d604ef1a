// The client-side image maps of a page (module 25): each map holds its areas
// as the page described them, in document order.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

struct BenPage;

namespace BenMapShape {
constexpr uint32_t Rect = 0, Circle = 1, Polygon = 2;
}

// One coordinate: flag bit 0 marks a percentage of the image's size.
struct BenMapCoord {
  int32_t value;
  uint32_t flags;
};

struct BenMapArea {
  BenMapArea* next;
  uint32_t shape;  // BenMapShape
  uint32_t coordCount;
  const char16_t* target;
  uintptr_t extra;
  const BenMapCoord* coords;
  int32_t box[4];  // recomputed by the image map: left, top, right, bottom
};

struct BenMap {
  ListNode link;  // in the page's map list
  const char16_t* name;
  BenMapArea* areas;
};

constexpr Result kBenMapNotFound = 0x80198008;

// The page's first map named as the image's usemap, a leading "#" skipped on
// both sides; kBenMapNotFound when none matches.
Result BenPageFindMap(const BenPage* page, const char16_t* usemap, BenMap** out);
