// Image-map coordinates from a page into the image map: any values and
// percentages, any shapes and counts, any shown and natural sizes. Scaling
// never overflows, the reading-order chain holds only visible areas in order,
// moves stay on the chain, and nothing leaks.
//
// Input: shown width and height, natural width and height (16 bits each,
// little-endian), the image's top (16 bits), then areas: a shape byte, a
// count byte (at most 15) and per coordinate a 32-bit value and a flags byte;
// a shape byte of 0xFF ends the areas and the bytes after it are move keys
// (key % 8: 0-4 moves, 5 focus in, 6 focus out, 7 a redraw). The map is
// drawn on a real screen.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/benmap.h"
#include "browser/benpage.h"
#include "browser/uiwindow.h"
#include "fuzz/pwl_fonts.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "layout/ddriver.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_imagemap.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Reader {
  const uint8_t* data;
  size_t size, at;
  bool Has(size_t n) const { return at + n <= size; }
  uint32_t U16() { return at += 2, data[at - 2] | data[at - 1] << 8; }
  uint8_t U8() { return data[at++]; }
  int32_t I32() {
    at += 4;
    return static_cast<int32_t>(data[at - 4] | data[at - 3] << 8 | data[at - 2] << 16 |
                                static_cast<uint32_t>(data[at - 1]) << 24);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fonts = FuzzStartFonts();
  static FuzzToolkit toolkit;
  if (!fonts || size < 10 || size > 4096 || !toolkit.Begin()) return 0;

  Reader in{data, size, 0};
  DDriverImageObject object{};
  object.shownWidth = in.U16();
  object.shownHeight = in.U16();
  object.naturalWidth = in.U16();
  object.naturalHeight = in.U16();
  DDriverItem image{};
  image.kind = DDriverKind::Image;
  image.flags = DDriverFlag::Loaded;
  image.object = &object;
  image.top = static_cast<int32_t>(in.U16()) - 0x8000;

  std::vector<std::vector<BenMapCoord>> coords;
  std::vector<BenMapArea> areas;
  while (in.Has(2) && areas.size() < 32) {
    const uint8_t shape = in.U8();
    if (shape == 0xFF) break;
    const uint32_t count = in.U8() & 15;
    std::vector<BenMapCoord> c;
    for (uint32_t k = 0; k < count && in.Has(5); ++k) {
      const int32_t value = in.I32();
      c.push_back({value, in.U8()});
    }
    coords.push_back(std::move(c));
    areas.push_back({nullptr, shape % 3u, static_cast<uint32_t>(coords.back().size()), u"t", 0,
                     nullptr, {}});
  }
  for (size_t k = 0; k < areas.size(); ++k) {
    areas[k].coords = coords[k].data();
    areas[k].next = k + 1 < areas.size() ? &areas[k + 1] : nullptr;
  }

  BenPage page{};
  ListInit(&page.maps);
  page.contentHeight = 1000;
  page.viewHeight = 240;
  page.scrollTop = 100;
  BenMap map{};
  map.name = u"m";
  map.areas = areas.empty() ? nullptr : &areas[0];
  ListAppend(&page.maps, &map.link);
  UiWindow ui{};
  ListInit(&ui.animations);
  ui.page = &page;
  TskmanTask* uiTask = nullptr;
  TskmanCreateTask(&uiTask, Mod::Ui, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                   &ui);
  PwlInstallImageMapClass();

  for (const std::vector<BenMapCoord>& c : coords) {
    std::vector<int32_t> out(c.size() + 1);
    PwlScaleMapCoords(&image, c.data(), static_cast<uint32_t>(c.size()), out.data());
  }

  PwlWindow* root = nullptr;
  PwlGetRootWindow(&root);
  PwlControl* c = nullptr;
  if (root && PwlCreate(&c, root, 1, 0, 0, PwlType::ImageMap) == kOk) {
    c->rect = {0, image.top, 159, image.top + 100};
    c->flags |= PwlCtl::Enabled;
    PwlMapBinding binding{u"#m", &image};
    PwlSend(c, nullptr, &binding, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
    auto* m = reinterpret_cast<PwlImageMap*>(c);
    PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusIn, 0);
    for (; in.Has(1); ++in.at) {
      const uint8_t key = data[in.at];
      if (key % 8 == 7)
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
      else if (key % 8 == 6)
        PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusOut, 0);
      else if (key % 8 == 5)
        PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusIn, 0);
      else
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, 3 + key % 4);
      // The chain is in reading order and holds the selection's successor.
      for (const PwlMapArea* a = m->first; a && a->nextInOrder; a = a->nextInOrder) {
        const PwlMapArea* b = a->nextInOrder;
        Check(a->box[3] != -1 && (a->box[1] < b->box[1] ||
                                  (a->box[1] == b->box[1] && a->box[0] <= b->box[0])));
      }
    }
    PwlDestroy(c);
  }
  TskmanDestroyTask(uiTask);
  toolkit.End();
  return 0;
}
