// The image map (control type 1): the areas of a page's client-side map,
// converted to the pixels of the image as shown, walked with the keys in
// reading order. The selected area is outlined in red; select sends its
// target to the browser window's UI task. Popups use it without an image to
// carry their two soft-key buttons.
#pragma once
#include <cstdint>

#include "widgets/pwl.h"

struct BenMap;
struct BenMapArea;
struct BenMapCoord;
struct DDriverItem;

namespace PwlMapMsg {
constexpr uint32_t SoftAction1 = 21, SoftAction2 = 22;
}

namespace PwlMapErr {
constexpr Result NullData = 0x802a800b, BadEvent = 0x802a8017;
}

// A soft-key action: called as callback(control, argument). The label's
// ownership passes to the control with messages 21 and 22. The callback may
// destroy the control.
struct PwlSoftAction {
  void (*callback)(PwlControl* control, uintptr_t argument);
  uintptr_t argument;
  char16_t* label;
};

// The bind data.
struct PwlMapBinding {
  const char16_t* mapName;  // the image's usemap
  DDriverItem* image;
};

// One area of the control, in the map's order.
struct PwlMapArea {
  PwlMapArea* next;
  uint32_t shape, coordCount;
  const char16_t* target;
  uintptr_t extra;
  const BenMapCoord* coords;
  int32_t box[4];  // shown-image pixels; box[3] == -1 outside the view
  PwlMapArea* nextInOrder;  // visible areas only
  const BenMapArea* source;
};

struct PwlImageMap {
  PwlControl head;
  const char16_t* mapName;
  DDriverItem* image;
  PwlMapArea* areas;
  PglViewport* outline;  // the screen under the drawn outline
  uint32_t lastDirection;
  uint32_t mapVersion;
  uint32_t exhausted, scrollPending, entered, reenter, refocus;
  PwlMapArea* selected;
  PwlMapArea* first;
  PwlMapArea* last;
  BenMap* map;
  PwlSoftAction actions[2];
};

// Installs the image map's class row and its class hook.
void PwlInstallImageMapClass();

// Converts a page area's coordinates to shown-image pixels (percentages of
// the natural size first, then scaled to the shown size), in 64 bits.
Result PwlScaleMapCoords(const DDriverItem* image, const BenMapCoord* coords, uint32_t count,
                         int32_t* out);
// Selects the area (the control's record or the page area it came from) for
// a pointer tap; the record, or null when nothing was done.
PwlMapArea* PwlImageMapSelect(PwlControl* control, const void* area);

// Shared by the image map's files.
namespace pwlmap {
inline PwlImageMap* Of(PwlControl* c) { return reinterpret_cast<PwlImageMap*>(c); }
bool Usable(const DDriverItem* image);
// The area's box in the window's content coordinates.
PglRect Placed(const PwlImageMap* m, const PwlMapArea* a);
bool InView(const PwlImageMap* m, const PwlMapArea* a);
void FreeAreas(PwlImageMap* m);
// Rebuilds the list when the page changed, on re-entry or without a
// selection, and settles the selection.
Result Build(PwlImageMap* m, bool always);
PwlMapArea* Find(PwlImageMap* m, const PwlMapArea* from, uint32_t key);
}  // namespace pwlmap
