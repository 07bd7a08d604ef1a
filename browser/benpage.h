// The browser core's page record (module 25): one loaded document or card,
// as the toolkit and the controls read and set it. The browser core fills in
// navigation and history around it.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

struct PwlWindow;
struct DDriverStore;
struct BenFormFieldRecord;

// One task record of a page (a card's go, prev or refresh), in document order.
struct BenPageTask {
  BenPageTask* next;
  uint32_t kind;
  char* url;  // 8-bit, or null
};

namespace BenPageFlag {
constexpr uint32_t ItemIsImage = 0x8000;     // field 20 is the image's display item
constexpr uint32_t WaitingForSize = 0x10000;  // a page object waits for its size
constexpr uint32_t Dirty = 0x2000;
}  // namespace BenPageFlag

struct BenPage {
  BenPage* parent;  // the frameset page holding this one, or null
  uint32_t pending;  // dirty children not yet redrawn
  uint32_t contentWidth;
  uint32_t contentHeight;
  uint32_t scrollTop;
  PwlWindow* view;  // the window the page is drawn into
  uint32_t viewHeight;
  uint32_t flags;  // BenPageFlag
  uint32_t mapVersion;
  ListHead maps;  // image maps of the page
  DDriverStore* store;
  // Field 20: with ItemIsImage the image's display item; with WaitingForSize the
  // object waiting for its size.
  uintptr_t imageItem;
  uintptr_t sizedObject;  // field 32: the object the image sink gave a size
  uintptr_t sizeRecord;   // field 36: the image's size record (its object type)
  char* url;              // 8-bit, the address the page was loaded from, or null
  BenPageTask* tasks;     // the page's task records, or null
  BenFormFieldRecord** fields;  // the page's form fields (fieldCount of them), or null
  uint32_t fieldCount;
};

// A system-wide word: 1 while the browser scrolls a page.
extern uint32_t BenScrollMark;

// The answer of the scroll operations when the page is already at that edge.
constexpr Result kBenPageAtEdge = 3;

uint32_t BenPageGetContentHeight(const BenPage* page);
void BenPageSetContentWidth(BenPage* page, uint32_t width);
void BenPageSetContentHeight(BenPage* page, uint32_t height);
DDriverStore* BenPageGetDocument(const BenPage* page);
uint32_t BenPageGetFlags(const BenPage* page);
uintptr_t BenPageGetField20(const BenPage* page);
void BenPageMarkDirty(BenPage* page);
void BenPageClearDirty(BenPage* page);
// The page record of a page handle; the handle is the record.
BenPage* BenPageFromHandle(uintptr_t handle);
void BenObjSetField32(BenPage* object, uintptr_t value);
void BenObjSetField36(BenPage* object, uintptr_t value);
uintptr_t BenObjGetText36(const BenPage* object);
// Direction 1: to the top; any other: to the end, content height - margin - 1.
// kBenPageAtEdge when the page is there already, else 0.
Result BenPageScrollToEdge(BenPage* page, uint32_t direction, uint32_t margin);
Result BenPageScrollToBottom(BenPage* page, uint32_t margin);
// Hands the two scroll operations to the toolkit.
void BenPageInstallScroller();
