#include "host/hostinput.h"

#include "browser/ui.h"
#include "host/hostsettings.h"
#include "host/skin.h"

namespace {

void NoTimer(void*, int32_t) {}
void NoStop(void*) {}
void NoDraw(void*, int32_t, bool) {}
void NoCapture(void*, bool) {}
constexpr HostInputOps kNoOps = {nullptr, NoTimer, NoStop, NoDraw, NoCapture, NoStop};
const HostInputOps* gOps = &kNoOps;

// The display window's key table. F2 opens the language dialog instead of
// sending a command.
struct KeyRow {
  HostKey key;
  int32_t command;
};
constexpr KeyRow kKeyTable[] = {
    {HostKey::End, 0},          {HostKey::F3, UiCmd::Soft1},     {HostKey::Left, UiCmd::Previous},
    {HostKey::Right, UiCmd::Next}, {HostKey::Up, UiCmd::Up},     {HostKey::Down, UiCmd::Down},
    {HostKey::PageUp, UiCmd::PageUp}, {HostKey::PageDown, UiCmd::PageDown},
    {HostKey::Delete, 0},       {HostKey::Backspace, UiCmd::Back}, {HostKey::F2, 0},
};

const KeyRow* FindKey(HostKey key) {
  for (const KeyRow& row : kKeyTable)
    if (row.key == key) return &row;
  return nullptr;
}

int32_t HitTest(int32_t x, int32_t y) {
  const ShellSkinButton* buttons = ShellSkinButtons();
  for (int32_t i = 0; buttons[i].keyCode != 0; ++i) {
    const ShellSkinButton& b = buttons[i];
    if (x >= b.hitX && x <= b.hitX + b.hitWidth && y >= b.hitY && y <= b.hitY + b.hitHeight)
      return i;
  }
  return -1;
}

// The handset key of a typed character: "0" to "9", "*" and "#".
uint32_t HandsetKeyOf(char32_t ch) {
  if (ch >= U'0' && ch <= U'9') return 224 + (ch - U'0');
  if (ch == U'*') return 236;
  if (ch == U'#') return 237;
  return 0;
}

}  // namespace

void HostInputInstall(const HostInputOps* ops) { gOps = ops ? ops : &kNoOps; }

void HostButtonDown(HostSettings* s, int32_t x, int32_t y, bool doubleClick) {
  int32_t index = HitTest(x, y);
  if (index < 0) return;
  int32_t repeat = 0, release = 0;
  uintptr_t argument = 0;
  int32_t command = ShellSkinTranslateKey(static_cast<uint32_t>(ShellSkinButtons()[index].keyCode),
                                          &repeat, &release, &argument);
  s->pressedButton = index;
  gOps->drawButton(gOps->ctx, index, true);
  gOps->captureMouse(gOps->ctx, true);
  if (repeat && !doubleClick) {
    gOps->startRepeatTimer(gOps->ctx, s->repeatDelayMs);
    s->repeatFired = 0;
    s->repeatArmed = true;
    s->armedRepeat = repeat;
    s->armedRelease = release;
    s->armedShort = command;
  } else {
    UiCommand(command, argument);
  }
}

void HostRepeatTimer(HostSettings* s) {
  if (!s->repeatArmed) return;
  s->repeatFired = 1;
  gOps->startRepeatTimer(gOps->ctx, s->repeatIntervalMs);
  UiCommand(s->armedRepeat, 0);
}

void HostButtonUp(HostSettings* s, bool captureLost) {
  if (s->repeatArmed) {
    s->repeatArmed = false;
    gOps->stopRepeatTimer(gOps->ctx);
    if (!s->repeatFired)
      UiCommand(s->armedShort, static_cast<uintptr_t>(s->pressedButton));
    else
      UiCommand(s->armedRelease, 0);
  }
  if (s->pressedButton >= 0) gOps->drawButton(gOps->ctx, s->pressedButton, false);
  s->pressedButton = -1;
  if (!captureLost) gOps->captureMouse(gOps->ctx, false);
}

void HostKeyDown(HostSettings* s, HostKey key, bool shift) {
  s->keyHandled = 0;
  switch (key) {
    case HostKey::F8: UiCommand(UiCmd::Info, 0); return;
    case HostKey::F9: UiCommand(UiCmd::Soft2, 0); return;
    case HostKey::F4:
    case HostKey::Home: UiCommand(UiCmd::Home, 0); return;
    case HostKey::Enter: UiCommand(UiCmd::Soft1, 0); return;
    default: break;
  }
  if (key == HostKey::NumpadMultiply || (key == HostKey::Digit8 && shift)) UiCommand(0, 9);
  if (key == HostKey::Digit3 && shift) UiCommand(0, 11);
  const KeyRow* row = FindKey(key);
  if (!row) return;
  s->keyHandled = 1;
  s->repeatFired = 0;
  if (key == HostKey::F2)
    gOps->openLanguageDialog(gOps->ctx);
  else
    UiCommand(row->command, 0);
}

void HostKeyUp(HostSettings* s, HostKey key) {
  if (!s->repeatFired) return;
  if (const KeyRow* row = FindKey(key); row && key != HostKey::F2) UiCommand(row->command, 0);
}

void HostCharTyped(HostSettings* s, char32_t ch) {
  if (s->keyHandled) return;
  uint32_t keyCode = HandsetKeyOf(ch);
  if (!keyCode) return;
  int32_t repeat = 0, release = 0;
  uintptr_t argument = 0;
  int32_t command = ShellSkinTranslateKey(keyCode, &repeat, &release, &argument);
  UiCommand(command, argument);
}

void HostDisplayTap(HostSettings*, int32_t x, int32_t y) {
  UiCommand(UiCmd::Tap, static_cast<uintptr_t>(static_cast<uint32_t>(y) << 16 | static_cast<uint16_t>(x)));
}
