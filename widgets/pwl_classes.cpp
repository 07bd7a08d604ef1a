// The standard rows of the class table and the helpers the classes share.
#include "widgets/pwl_classes.h"

#include "widgets/pwl_imagemap.h"
#include "widgets/pwl_internal.h"
#include "widgets/pwl_marquee.h"
#include "widgets/pwl_select.h"
#include "widgets/pwl_text.h"

namespace {

struct Row {
  uint32_t type;
  const PwlControlClass* row;
};

const Row kRows[] = {
    {PwlType::TextLink, &kPwlTextLinkClass}, {PwlType::ImageLink, &kPwlImageLinkClass},
    {PwlType::CheckBox, &kPwlCheckBoxClass}, {PwlType::Button, &kPwlButtonClass},
    {PwlType::Radio, &kPwlRadioClass},       {PwlType::EditBox, &kPwlEditBoxClass},
    {PwlType::TextArea, &kPwlTextAreaClass},
};

bool Empty(uint32_t type) { return !PwlGetControlClass(type)->procedure; }

}  // namespace

void PwlInstallStandardClasses() {
  for (const Row& r : kRows)
    if (Empty(r.type)) PwlSetControlClass(r.type, r.row);
  if (Empty(PwlType::ImageMap)) PwlInstallImageMapClass();
  if (Empty(PwlType::Marquee)) PwlInstallMarqueeClass();
  if (Empty(PwlType::Select)) PwlInstallSelectClass();
  // Only the link question is ours; the other classes answer theirs.
  PwlClassHooks hooks = PwlHooks();
  hooks.firstField = PwlLinkIsFirstField;
  PwlSetClassHooks(&hooks);
}

bool PwlCommonMessage(PwlControl* c, void* data, uint32_t message, Result* result) {
  switch (message) {
    case PwlMsg::Enable:
      c->flags |= PwlCtl::Enabled;
      *result = kOk;
      return true;
    case PwlMsg::Disable:
      c->flags &= ~PwlCtl::Enabled;
      *result = kOk;
      return true;
    case PwlMsg::GetRect:
      if (data) *static_cast<PglRect*>(data) = c->rect;
      *result = data ? kOk : PwlErr::NullRect;
      return true;
    default:
      return false;
  }
}

bool PwlForwardOwnerDrawn(PwlControl* c, void* data) {
  if (!(c->flags & PwlCtl::OwnerDrawn)) return false;
  if (auto* target = reinterpret_cast<PwlControl*>(c->group))
    PwlSend(target, c, data, 0, PwlMsg::Event, PwlClassEvt::Forwarded);
  return true;
}

void PwlPostOnce(PwlWindow* window, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (!window) return;
  if (window->focusMessage && window->labelMark) return;
  PwlPostToOwner(window, message, arg1, arg2);
  window->labelMark = 1;
}

PglRect PwlFrameRectOf(const PwlControl* control) {
  PglDrawArgs args{};
  PwlGetRelativeRect(control, &args);
  return {args.left, args.top, args.right, args.bottom};
}

const PglSurface* PwlImageOf(uint32_t index) {
  PwlContext* context = PwlGetContext();
  if (!context || index >= kPwlImageCount) return nullptr;
  const PwlImagePair& pair = context->images[index];
  return pair.file && pair.image.width && pair.image.height ? &pair.image : nullptr;
}
