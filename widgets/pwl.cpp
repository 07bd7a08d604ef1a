// The toolkit context: start and stop, the root and active windows, the
// soft-key slots, the modal mark, the toolkit's images and the class table.
#include "widgets/pwl.h"

#include "browser/benvar.h"
#include "graphics/pict.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "kernel/uistring.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_ticker.h"

// Forward until a key says otherwise: a map entered first starts at its top.
uint32_t PwlNavDirection = 1;

namespace {

// The images' file names, in the order the classes index them.
const char* const kImageNames[kPwlImageCount] = {
    "ui/qorui/pwl/textup",   "ui/qorui/pwl/textdn",       "ui/qorui/pwl/textupfo",
    "ui/qorui/pwl/textdnfo", "ui/qorui/pwl/editbx",       "ui/qorui/pwl/editbxfo",
    "ui/qorui/pwl/new_menu", "ui/qorui/pwl/new_menufo",   "ui/qorui/pwl/radclr",
    "ui/qorui/pwl/radsel",   "ui/qorui/pwl/radclrfo",     "ui/qorui/pwl/radselfo",
    "ui/qorui/pwl/chkclr",   "ui/qorui/pwl/chksel",       "ui/qorui/pwl/chkclrfo",
    "ui/qorui/pwl/chkselfo", "ui/qorui/pwl/new_menu_garo", "ui/qorui/pwl/new_menufo_garo",
    "ui/qorui/pwl/scrollup", "ui/qorui/pwl/scrolldn"};

// The order they are loaded in at start.
constexpr uint32_t kLoadOrder[kPwlImageCount] = {0, 1, 2,  3,  4,  5,  6,  7,  16, 17,
                                                 18, 19, 8, 9, 10, 11, 12, 13, 14, 15};

constexpr uint32_t kUiStringTable = 13;

const PwlControlClass kEmptyClass{};
const PwlControlClass* gClasses[PwlType::Count] = {
    &kEmptyClass, &kEmptyClass, &kEmptyClass, &kEmptyClass, &kEmptyClass, &kEmptyClass,
    &kEmptyClass, &kEmptyClass, &kEmptyClass, &kEmptyClass, &kEmptyClass, &kEmptyClass};

PwlSlot* SlotOf(uint32_t slot) {
  PwlContext* context = PwlGetContext();
  if (!context || slot < 1 || slot > 2) return nullptr;
  return &context->slots[slot - 1];
}

}  // namespace

Result PwlInit() {
  auto* context =
      static_cast<PwlContext*>(MemAllocZero(sizeof(PwlContext), PwlUse::Context, Mod::Pwl));
  if (!context) return PwlErr::NoMemory;
  ListInit(&context->windows);
  PglGetScreenSurface(&context->screen);

  PwlWindow* root = nullptr;
  Result r = PwlCreateWindow(context, &root, PwlWin::ClearOnOpen);
  if (r != kOk) {
    MemFree(&context);
    return r;
  }
  r = TskmanCreateTask(&context->task, Mod::Pwl, PwlTaskHandler, context);
  if (r != kOk) {
    PwlDestroyWindow(&root);
    MemFree(&context);
    return r;
  }
  context->root = root;
  context->active = root;
  PwlNavDirection = 1;

  for (uint32_t index : kLoadOrder) {
    PwlImagePair& pair = context->images[index];
    r = PictLoadImage(kImageNames[index], 0, &pair.image, &pair.file);
    if (r != kOk) {
      PwlShutdown();
      return r;
    }
  }
  PwlInstallStandardClasses();
  // Without the ticker the moving controls stand still; the toolkit runs.
  PwlTickerStart();
  return kOk;
}

void PwlShutdown() {
  PwlContext* context = PwlGetContext();
  if (!context) return;
  for (PwlImagePair& pair : context->images) {
    if (pair.file) QorRomRelease(pair.file);
    pair.file = nullptr;
  }
  while (!ListIsEmpty(&context->windows)) {
    auto* last = reinterpret_cast<PwlWindow*>(context->windows.last);
    PwlDestroyWindow(&last);
  }
  context->root = context->active = nullptr;
  // The windows go first: a moving control's destroy removes its ticker entry.
  PwlTickerStop();
  TskmanDestroyTask(context->task);
  context->task = nullptr;
  MemFree(&context);
}

PwlContext* PwlGetContext() {
  TskmanTask* task = TskmanFind(Mod::Pwl);
  if (!task) return nullptr;
  void* context = nullptr;
  TskmanGetContext(&context, task);
  return static_cast<PwlContext*>(context);
}

Result PwlGetRootWindow(PwlWindow** out) {
  if (!out) return PwlErr::NullData;
  PwlContext* context = PwlGetContext();
  *out = context ? context->root : nullptr;
  return context ? kOk : PwlErr::NullWindow;
}

Result PwlGetActiveWindow(PwlWindow** out) {
  if (!out) return PwlErr::NullData;
  PwlContext* context = PwlGetContext();
  *out = context ? context->active : nullptr;
  return context ? kOk : PwlErr::NullWindow;
}

void PwlSetActiveWindow(PwlWindow* window) {
  if (PwlContext* context = PwlGetContext()) context->active = window;
}

uint32_t PwlIsModal() {
  PwlContext* context = PwlGetContext();
  return context ? context->modal : 0;
}

void PwlSetModal(uint32_t on) {
  if (PwlContext* context = PwlGetContext()) context->modal = on;
}

void PwlSetSlot(uint32_t slot, uint32_t code, uintptr_t data) {
  if (PwlSlot* s = SlotOf(slot)) *s = {code, data};
}

void PwlClearSlot(uint32_t slot) {
  if (PwlSlot* s = SlotOf(slot)) *s = {};
}

void PwlGetSlot(uint32_t slot, uint32_t* code, uintptr_t* data) {
  PwlSlot* s = SlotOf(slot);
  if (!s) return;
  if (code) *code = s->code;
  if (data) *data = s->data;
}

const char16_t* PwlLabelText(uint32_t index) { return UiGetString(kUiStringTable, index); }

char16_t* PwlDupUiString(uint32_t index) {
  const char16_t* text = PwlLabelText(index);
  auto* copy =
      static_cast<char16_t*>(MemAlloc((LibcWStrLen(text) + 1) * 2, Use::String, Mod::Pwl));
  if (copy) LibcWStrCopy(copy, text);
  return copy;
}

Result PwlSubstituteText(const char16_t* text, char16_t** out) {
  if (!out) return PwlErr::BadArg;
  *out = nullptr;
  if (!text) return PwlErr::BadArg;
  char16_t* substituted = nullptr;
  if (BenSubstituteVarsW(BenGetBrowser(), &substituted, text, 0) == kOk && substituted) {
    *out = substituted;
    return kOk;
  }
  *out = static_cast<char16_t*>(MemAlloc((LibcWStrLen(text) + 1) * 2, Use::String, Mod::Pwl));
  if (!*out) return PwlErr::NoMemory;
  LibcWStrCopy(*out, text);
  return kOk;
}

const PwlControlClass* PwlSetControlClass(uint32_t type, const PwlControlClass* row) {
  if (type < PwlType::ImageMap || type > PwlType::TextArea) return nullptr;
  const PwlControlClass* old = gClasses[type];
  gClasses[type] = row ? row : &kEmptyClass;
  return old;
}

const PwlControlClass* PwlGetControlClass(uint32_t type) {
  return type < PwlType::Count ? gClasses[type] : &kEmptyClass;
}

Result PwlStubHandler(void* target, void*, void*) {
  if (target) *static_cast<uint32_t*>(target) = 1;
  return 0x8001;
}

void* PwlSetThirdWord(void* record, uintptr_t value) {
  if (record) static_cast<uintptr_t*>(record)[2] = value;
  return record;
}
