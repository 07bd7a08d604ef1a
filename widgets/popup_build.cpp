// Building popups: the popup window and its frame, the message text and
// soft keys of message and confirm popups, the list menu's layout and
// title, and the text entry's session.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "widgets/input.h"
#include "widgets/popup.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_imagemap.h"
#include "widgets/pwl_text.h"

namespace {

constexpr uint32_t kGetContentWindow = 0x1302;
constexpr uint16_t kBlack = 0x0000, kGrey = 0xAD55;

void DrawFrame(PwlWindow* w, int32_t inset, uint16_t colour) {
  const int32_t l = inset, t = inset;
  const int32_t r = static_cast<int32_t>(w->width) - 1 - inset;
  const int32_t b = static_cast<int32_t>(w->height) - 1 - inset;
  const PglRect top{l, t, r, t}, bottom{l, b, r, b}, left{l, t, l, b}, right{r, t, r, b};
  PwlDrawLine(w, &top, 2, colour);
  PwlDrawLine(w, &bottom, 2, colour);
  PwlDrawLine(w, &left, 1, colour);
  PwlDrawLine(w, &right, 1, colour);
}

Result OpenWindow(PopupRequest* r) {
  TskmanTask* ui = TskmanFind(Mod::Ui);
  if (!ui) return PwlErr::NullWindow;
  PwlWindow* root = nullptr;
  PwlGetRootWindow(&root);
  PwlWindow* content = nullptr;
  if (TskmanSend(ui, kGetContentWindow, reinterpret_cast<uintptr_t>(&content), 0) != kOk ||
      !content)
    content = root;
  if (!content || !root) return PwlErr::NullWindow;
  const PglRect f = content->frame;
  const PwlBox box{f.left, f.top, static_cast<uint32_t>(f.right - f.left + 1),
                   static_cast<uint32_t>(f.bottom - f.top + 1)};
  if (Result res = PwlCreateSubWindow(&r->window, root, &box, 0); res != kOk) return res;
  PwlWindow* w = r->window;
  r->box = {4, 4, static_cast<int32_t>(w->width) - 5, static_cast<int32_t>(w->height) - 1};
  PwlSetWindowLink(w, r->popupTask);
  PwlGetActiveWindow(&r->saved);
  PwlSetActiveWindow(w);
  if (r->saved) r->saved->hidden = 1;
  PwlClear(w);
  DrawFrame(w, 1, kBlack);
  DrawFrame(w, 2, kGrey);
  return kOk;
}

// Creates a control in the popup window and drives it into place; the first
// failing message ends it (the window takes the control down with it).
Result AddControl(PopupRequest* r, uint32_t type, void* content, int32_t limit,
                  PwlControl** out) {
  PwlControl* c = nullptr;
  if (Result res = PwlCreate(&c, r->window, 0, 0, 0, type); res != kOk) return res;
  *out = c;
  c->flags |= PwlCtl::Active;
  Result res = PwlSend(c, nullptr, content, 0, PwlMsg::Bind, 0);
  if (res == kOk) res = PwlSend(c, nullptr, &r->box, 0x10, PwlMsg::SetRect, 0);
  if (res == kOk && limit) res = PwlSend(c, nullptr, &limit, 0, PwlSelMsg::WidthLimit, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  return res;
}

Result AddMessageText(PopupRequest* r, char16_t* text) {
  PwlControl* c = nullptr;
  if (Result res = PwlCreate(&c, r->window, 0, 0, 0, PwlType::TextArea); res != kOk) return res;
  const int32_t w = static_cast<int32_t>(r->window->width);
  const int32_t h = static_cast<int32_t>(r->window->height);
  PglRect rect{4, 4, w - 5, h - 5};
  PwlFontSpec font{"BodyText", kPwlBodySize, 0, 0};
  PwlTextBoxData data{0, text, nullptr};
  Result res = PwlSend(c, nullptr, nullptr, 0, PwlClassMsg::Hide, 0);
  if (res == kOk) res = PwlSend(c, nullptr, &rect, 0x10, PwlMsg::SetRect, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
  if (res == kOk) res = PwlSend(c, nullptr, &font, 0, PwlClassMsg::SetFont, 0);
  if (res == kOk) res = PwlSend(c, nullptr, &data, 0, PwlMsg::Bind, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlClassMsg::Show, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  if (res != kOk) {
    PwlDestroy(c);
    return res;
  }
  r->text = c;
  return kOk;
}

Result AddSoftKeys(PopupRequest* r, PopupButton* buttons, uint32_t n) {
  PwlControl* c = nullptr;
  if (Result res = PwlCreate(&c, r->window, 0, 0, 0, PwlType::ImageMap); res != kOk) return res;
  PwlWindow* root = nullptr;
  PwlGetRootWindow(&root);
  PglRect rect = root ? root->frame : PglRect{};
  Result res = PwlSend(c, nullptr, &rect, 0x10, PwlMsg::SetRect, 0);
  for (uint32_t i = 0; res == kOk && i < n; ++i) {
    PwlSoftAction action{buttons[i].callback, reinterpret_cast<uintptr_t>(r), buttons[i].label};
    res = PwlSend(c, nullptr, &action, 0, PwlMapMsg::SoftAction1 + i, 0);
    // The control owns the label from here.
    if (res == kOk) buttons[i].label = nullptr;
  }
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
  if (res == kOk) res = PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  if (res != kOk) {
    PwlDestroy(c);
    return res;
  }
  r->softKeys = c;
  return kOk;
}

Result BuildButtons(PopupRequest* r, char16_t* text, PopupButton* buttons, uint32_t n) {
  r->listMode = 0;
  if (Result res = OpenWindow(r); res != kOk) return res;
  if (text)
    if (Result res = AddMessageText(r, text); res != kOk) return res;
  if (Result res = AddSoftKeys(r, buttons, n); res != kOk) return res;
  PwlFocusControl(r->softKeys, 1);
  PopupShowingMark = 1;
  return kOk;
}

int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }

void DrawTitle(PopupRequest* r, const FontInstance* font, const char16_t* title, int32_t bottom) {
  int32_t lineHeight = 0;
  PwlLineHeight(font, 0, &lineHeight);
  if (lineHeight <= 0) return;
  const int32_t width = static_cast<int32_t>(r->window->width) - 9;
  for (int32_t y = 4; *title && y + lineHeight <= bottom; y += lineHeight) {
    uint32_t draw = 0, advance = 0;
    PopupBreakLine(font, title, width, &draw, &advance);
    PwlDrawText(font, 0, draw, title, r->window, 4, y, nullptr, kBlack, 0xFFFF);
    title += advance;
  }
}

Result LayOutList(PopupRequest* r, PopupListBody* body, const FontInstance* font) {
  const int32_t L = r->box.left, T = r->box.top, R = r->box.right, B = r->box.bottom;
  const int32_t w = R - L - 2;
  PwlSize ls{}, os{};
  if (Result res = PwlSelectMeasure(nullptr, body, 0, &ls); res != kOk) return res;
  if (Result res = PwlMeasure(nullptr, body->okLabel, 0, &os, PwlType::Button); res != kOk)
    return res;
  const int32_t listW = Min(static_cast<int32_t>(ls.width), w);
  const int32_t okW = Min(static_cast<int32_t>(os.width), w);
  const int32_t listH = static_cast<int32_t>(ls.height), okH = static_cast<int32_t>(os.height);
  const bool side = okW + 6 + listW < R - L || listH + 6 + okH >= B - T;
  int32_t h = 0, listTop = 0, limit = 0;
  if (side) {
    h = listH > okH ? listH : okH;
    listTop = B - h - 4 + (h - listH) / 2;
    limit = R - L - okW - 4;
  } else {
    h = okH;
    r->box.left = L + (R - L - listW) / 2;
    listTop = B - listH - okH - 6;
    limit = w;
  }
  r->box.top = listTop;
  if (Result res = AddControl(r, PwlType::Select, body, limit, &body->list); res != kOk)
    return res;
  const int32_t okTop = side ? B - h - 4 + (h - okH) / 2 : listTop + listH + 2;
  r->box.left = side ? R - okW - 2 : L + (R - L - okW) / 2;
  r->box.top = okTop;
  if (Result res = AddControl(r, PwlType::Button, body->okLabel, 0, &body->ok); res != kOk)
    return res;
  int32_t titleBottom = side ? okTop : B - (listH + 6 + okH);
  if (titleBottom < T) titleBottom = T;
  r->box.left = L;
  r->box.top = T;
  r->box.right = R;
  if (body->title) DrawTitle(r, font, body->title, titleBottom);
  return kOk;
}

}  // namespace

Result PopupBuildMessage(PopupRequest* r) {
  auto* b = static_cast<PopupMessageBody*>(r->body);
  if (!b) return PwlErr::NoMemory;
  return BuildButtons(r, b->text, &b->button, 1);
}

Result PopupBuildConfirm(PopupRequest* r) {
  auto* b = static_cast<PopupConfirmBody*>(r->body);
  if (!b) return PwlErr::NoMemory;
  return BuildButtons(r, b->text, b->buttons, 2);
}

Result PopupBuildList(PopupRequest* r) {
  auto* body = static_cast<PopupListBody*>(r->body);
  if (!body) return PwlErr::NoMemory;
  r->listMode = 1;
  if (Result res = OpenWindow(r); res != kOk) return res;
  FontInstance* font = nullptr;
  PwlOpenBodyFont(&font);
  body->okLabel = PwlDupUiString(14);
  const Result res = body->okLabel ? LayOutList(r, body, font) : PwlErr::NoMemory;
  PwlReleaseFont(font);
  return res;
}

Result PopupOpenEditor(PopupRequest* r) {
  auto* b = static_cast<PopupTextBody*>(r->body);
  if (!b) return PwlErr::NoMemory;
  Result why = kOk;
  InputSession* session =
      InputSessionOpen(nullptr, b->prompt, b->initial, b->mask, b->mode, 0, &why);
  if (!session) return why;
  session->ownerTask = r->popupTask;
  r->session = session;
  InputSessionSetOwnerSlot(session, &r->session);
  return kOk;
}

void PopupBreakLine(const FontInstance* font, const char16_t* text, int32_t width,
                    uint32_t* draw, uint32_t* advance) {
  *draw = *advance = 0;
  if (!text || !*text) return;
  const uint32_t n = LibcWStrLen(text);
  int64_t sum = 0;
  uint32_t i = 0;
  while (i < n && sum < width) {
    int32_t cw = 0;
    PwlCharWidth(font, 0, text[i], &cw);
    sum += cw;
    ++i;
  }
  // The rest fits, exactly or with room to spare.
  if (sum < width || (i == n && sum == width)) {
    *draw = *advance = n;
    return;
  }
  const uint32_t k = sum > width && i > 0 ? i - 1 : i;
  if (k < n && text[k] == u' ') {
    uint32_t run = 0;
    while (k + run < n && text[k + run] == u' ') ++run;
    *draw = k;
    *advance = k + run;
    return;
  }
  if (k == 0) {
    *draw = *advance = 1;
    return;
  }
  for (uint32_t s = k - 1; s > 0; --s)
    if (text[s] == u' ') {
      *draw = s;
      *advance = s + 1;
      return;
    }
  // A word longer than the line: one character fewer than fit, never none.
  *draw = *advance = k > 1 ? k - 1 : 1;
}
