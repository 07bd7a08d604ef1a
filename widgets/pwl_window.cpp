// Toolkit windows: creation, the window tree, accessors, and the drawing
// operations every control paints with.
#include "kernel/mem.h"
#include "widgets/pwl.h"
#include "widgets/pwl_internal.h"

namespace {

PwlWindow* gPending = nullptr;

// A window whose frame does not fit its surface (no screen yet) gets an
// empty viewport: it exists, and draws nothing.
void OpenViewport(PwlWindow* window, PglSurface* surface, uint32_t flags) {
  const PglDrawArgs args{surface, window->frame.left, window->frame.top, window->frame.right,
                         window->frame.bottom, 0, 0, 0, 0, flags};
  if (PglOpenViewport(&window->viewport, &args) != kOk)
    window->viewport = {surface, window->frame.left, window->frame.top, 0, 0, flags};
}

PwlWindow* NewWindow() {
  auto* window =
      static_cast<PwlWindow*>(MemAllocZero(sizeof(PwlWindow), PwlUse::Window, Mod::Pwl));
  if (!window) return nullptr;
  window->marker = kPwlWindowMarker;
  ListInit(&window->children);
  ListInit(&window->controls);
  return window;
}

void Link(ListHead* list, PwlWindow* window, uint32_t flags) {
  if (flags & PwlWin::AtTail)
    ListAppend(list, &window->link);
  else
    ListInsertAfter(ListHeadNode(list), &window->link);
}

void FreeSurfaces(PwlWindow* window) {
  for (PglViewport*& cached : window->cache) PglFreeSurface(&cached);
  PwlFreeSavedAreas(window);
  TskmanCancelTimer(&window->timer);
}

// One window without its sub-windows.
void DestroyOne(PwlWindow* window) {
  FreeSurfaces(window);
  if (window->link.next) ListRemove(&window->link);
  while (ListNode* last = ListLast(&window->controls)) {
    ListRemove(last);
    last->next = last->prev = nullptr;
    PwlDestroy(reinterpret_cast<PwlControl*>(last));
  }
  if (gPending == window) gPending = nullptr;
  if (PwlContext* context = PwlGetContext()) {
    if (context->active == window) context->active = context->root == window ? nullptr : context->root;
    if (context->root == window) context->root = nullptr;
  }
  MemFree(&window);
}

template <class Op>
Result Draw(PwlWindow* window, Op op) {
  if (!window) return PwlErr::NullWindow;
  if (window->hidden) return kOk;
  return op(&window->viewport);
}

PglDrawArgs ArgsOf(const PglRect* r) {
  return {nullptr, 0, 0, 0, 0, r->left, r->top, r->right, r->bottom, 0};
}

}  // namespace

Result PwlCreateWindow(PwlContext* context, PwlWindow** out, uint32_t flags) {
  if (!out) return PwlErr::NullWindow;
  *out = nullptr;
  if (!context) return PwlErr::BadArg;
  PwlWindow* window = NewWindow();
  if (!window) return PwlErr::NoMemory;
  window->width = context->screen.width;
  window->height = context->screen.height;
  window->frame = {0, 0, static_cast<int32_t>(context->screen.width) - 1,
                   static_cast<int32_t>(context->screen.height) - 1};
  OpenViewport(window, &context->screen, flags & PwlWin::ClearOnOpen ? PglVpFlag::Clear : 0);
  Link(&context->windows, window, flags);
  *out = window;
  return kOk;
}

Result PwlCreateSubWindow(PwlWindow** out, PwlWindow* parent, const PwlBox* box,
                          uint32_t flags) {
  if (!out) return PwlErr::NullWindow;
  *out = nullptr;
  if (!parent && PwlGetRootWindow(&parent) != kOk) return PwlErr::NullWindow;
  if (!parent) return PwlErr::NullWindow;
  if (!box) return PwlErr::NullRect;
  if (box->width == 0 || box->height == 0) return PwlErr::EmptySize;
  if (box->x < 0 || box->y < 0 || uint64_t{static_cast<uint32_t>(box->x)} + box->width > parent->width ||
      uint64_t{static_cast<uint32_t>(box->y)} + box->height > parent->height)
    return PwlErr::DoesNotFit;
  PwlWindow* window = NewWindow();
  if (!window) return PwlErr::NoMemory;
  window->parent = parent;
  window->width = box->width;
  window->height = box->height;
  window->frame.left = parent->frame.left + box->x;
  window->frame.top = parent->frame.top + box->y;
  window->frame.right = window->frame.left + static_cast<int32_t>(box->width) - 1;
  window->frame.bottom = window->frame.top + static_cast<int32_t>(box->height) - 1;
  window->background = 0xFFFF;
  uint32_t vpFlags = parent->viewport.flags & ~PglVpFlag::Clear;
  if (flags & PwlWin::ClearOnOpen) vpFlags |= PglVpFlag::Clear;
  OpenViewport(window, parent->viewport.surface, vpFlags);
  Link(&parent->children, window, flags);
  *out = window;
  return kOk;
}

void PwlDestroyWindow(PwlWindow** handle) {
  PwlWindow* given = *handle;
  if (!given) return;
  // The deepest last sub-windows go first, the given window last.
  PwlWindow* current = given;
  for (;;) {
    if (ListNode* last = ListLast(&current->children)) {
      current = reinterpret_cast<PwlWindow*>(last);
      continue;
    }
    PwlWindow* parent = current->parent;
    const bool done = current == given;
    DestroyOne(current);
    if (done) break;
    current = parent;
  }
  *handle = nullptr;
}

Result PwlMoveInParent(PwlWindow* window, uint32_t mode) {
  if (!window) return PwlErr::NullWindow;
  if (!window->parent) return PwlErr::NoParent;
  ListRemove(&window->link);
  Link(&window->parent->children, window, mode == 2 ? PwlWin::AtTail : 0);
  return kOk;
}

Result PwlGetOrigin(const PwlWindow* window, PwlOrigin* out) {
  if (!window) return PwlErr::NullWindow;
  if (!out) return PwlErr::NullData;
  *out = window->origin;
  return kOk;
}

Result PwlSetOrigin(PwlWindow* window, const PwlOrigin* origin) {
  if (!window) return PwlErr::NullWindow;
  if (!origin) return PwlErr::NullData;
  window->origin = *origin;
  return kOk;
}

Result PwlGetWindowRect(const PwlWindow* window, PglRect* out) {
  if (!window) return PwlErr::NullWindow;
  if (!out) return PwlErr::NullRect;
  *out = window->frame;
  return kOk;
}

Result PwlGetSize(const PwlWindow* window, PwlSize* out) {
  if (!window) return PwlErr::NullWindow;
  if (!out) return PwlErr::EmptySize;
  *out = {window->width, window->height};
  return kOk;
}

Result PwlQuerySize(const PwlWindow* window, PwlSize* out) { return PwlGetSize(window, out); }

Result PwlSetWindowLink(PwlWindow* window, TskmanTask* owner) {
  if (!window) return PwlErr::NullWindow;
  window->owner = owner;
  return kOk;
}

void PwlPostToOwner(const PwlWindow* window, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (window && window->owner) TskmanPost(window->owner, message, arg1, arg2);
}

void PwlReleaseWindowCache(PwlWindow* window) {
  if (window) FreeSurfaces(window);
}

void PwlFreeSavedAreas(PwlWindow* window) {
  for (PglViewport*& saved : window->saved) PglFreeSurface(&saved);
}

void PwlSetPending(PwlWindow* window) { gPending = window; }

void PwlClearWindow() {
  if (!gPending) return;
  PwlClear(gPending);
  gPending = nullptr;
}

Result PwlDrawImage(PwlWindow* window, const PglDrawArgs* args) {
  return Draw(window, [&](PglViewport* vp) {
    return PglViewportBlit(vp, args, 0, window->background);
  });
}

Result PwlBlitImage(PwlWindow* window, const PglDrawArgs* args, uint16_t key,
                    uint16_t background) {
  return Draw(window, [&](PglViewport* vp) { return PglViewportBlit(vp, args, key, background); });
}

Result PwlClear(PwlWindow* window) {
  return Draw(window, [&](PglViewport* vp) { return PglClearViewport(vp, window->background); });
}

Result PwlFillRect(PwlWindow* window, const PglRect* rect) {
  return Draw(window, [&](PglViewport* vp) {
    const PglDrawArgs args = ArgsOf(rect);
    return PglViewportFillRect(vp, &args, window->background);
  });
}

Result PwlFillRect2(PwlWindow* window, const PglRect* rect, uint16_t colour) {
  return Draw(window, [&](PglViewport* vp) {
    const PglDrawArgs args = ArgsOf(rect);
    return PglViewportFillRect(vp, &args, colour);
  });
}

Result PwlDrawSegment(PwlWindow* window, const PglRect* rect, uint16_t colour) {
  return Draw(window, [&](PglViewport* vp) {
    const PglDrawArgs args = ArgsOf(rect);
    return PglViewportDrawSegment(vp, &args, colour);
  });
}

Result PwlInvertRect(PwlWindow* window, const PglRect* rect) {
  return Draw(window, [&](PglViewport* vp) {
    const PglDrawArgs args = ArgsOf(rect);
    return PglViewportInvertRect(vp, &args);
  });
}

Result PwlDrawLine(PwlWindow* window, const PglRect* rect, uint32_t kind, uint16_t colour) {
  return Draw(window, [&](PglViewport* vp) {
    PglDrawArgs args = ArgsOf(rect);
    switch (kind) {
      case 0:
        // The any-direction line takes surface coordinates.
        args.left += vp->x;
        args.right += vp->x;
        args.top += vp->y;
        args.bottom += vp->y;
        return PglViewportLine(vp, &args, colour);
      case 1:
        return PglViewportVLine(vp, &args, colour);
      case 2:
        return PglViewportHLine(vp, &args, colour);
      default:
        return PwlErr::NoOperation;
    }
  });
}

Result PwlSetPixel(PwlWindow* window, const PglPoint* point, uint16_t colour) {
  return Draw(window, [&](PglViewport* vp) { return PglViewportSetPixel(vp, point, colour); });
}

Result PwlFrameRect(PwlWindow* window, const PglRect* rect, uint16_t colour) {
  return Draw(window, [&](PglViewport* vp) {
    const PglDrawArgs args = ArgsOf(rect);
    return PglViewportFrameRect(vp, &args, colour);
  });
}
