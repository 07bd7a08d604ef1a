#include "browser/bentitle.h"

#include "browser/uiwindow.h"
#include "kernel/libc.h"
#include "widgets/pwl.h"
#include "widgets/pwl_text.h"

namespace {

constexpr uint16_t kLight = 0xFFFF, kShadow = 0x7BEF, kFace = 0xD69A, kInk = 0x0000;
constexpr int32_t kTitleSize = 2;  // the labels' size, so the band reads as one line

// The box in the band's coordinates; false when the band is missing or too
// small to hold one.
bool BoxOf(const UiWindow* ui, int32_t inset, int32_t height, PglRect* out) {
  if (!ui || !ui->band) return false;
  PwlSize band{};
  if (PwlGetSize(ui->band, &band) != kOk) return false;
  const int32_t w = static_cast<int32_t>(band.width);
  const int32_t h =
      height < static_cast<int32_t>(band.height) ? height : static_cast<int32_t>(band.height);
  if (inset < 0 || h < 3 || w - 2 * inset < 3) return false;
  *out = {inset, 0, w - 1 - inset, h - 1};
  return true;
}

// Appends text to the title buffer as far as it goes; the buffer stays
// terminated.
uint32_t Append(char16_t* to, uint32_t at, uint32_t capacity, const char16_t* text) {
  for (; text && *text && at + 1 < capacity; ++text) to[at++] = *text;
  to[at] = 0;
  return at;
}

}  // namespace

void BenDrawBevel(UiWindow* ui, int32_t inset, int32_t height) {
  PglRect r{};
  if (!BoxOf(ui, inset, height, &r)) return;
  const PglRect top{r.left, r.top, r.right, r.top}, left{r.left, r.top, r.left, r.bottom};
  const PglRect bottom{r.left, r.bottom, r.right, r.bottom};
  const PglRect right{r.right, r.top, r.right, r.bottom};
  PwlDrawLine(ui->band, &top, 2, kLight);
  PwlDrawLine(ui->band, &left, 1, kLight);
  PwlDrawLine(ui->band, &bottom, 2, kShadow);
  PwlDrawLine(ui->band, &right, 1, kShadow);
}

void BenDrawTitleBar(UiWindow* ui, const char16_t* title, const char16_t* second, uint32_t) {
  if (!ui) return;
  constexpr uint32_t kCapacity = sizeof(ui->title) / sizeof(ui->title[0]);
  if (title != ui->title) {
    const uint32_t n = Append(ui->title, 0, kCapacity, title);
    if (second && *second)
      Append(ui->title, Append(ui->title, n, kCapacity, u" "), kCapacity, second);
  }
  PglRect box{};
  if (!BoxOf(ui, kBenChromeInset, static_cast<int32_t>(ui->bottomBarHeight), &box)) return;
  const PglRect face{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
  PwlFillRect2(ui->band, &face, kFace);
  FontInstance* font = nullptr;
  if (!ui->title[0] || PwlOpenBodyFont(&font, kTitleSize) != kOk) return;
  const uint32_t n = LibcWStrLen(ui->title);
  int32_t width = 0, height = 0;
  PwlTextWidth(font, 0, n, ui->title, &width);
  PwlLineHeight(font, 0, &height);
  const int32_t room = face.right - face.left + 1;
  const int32_t rows = face.bottom - face.top + 1;
  // The clip stands in for the band's viewport while the text is drawn: the
  // text's place is taken from the face's corner.
  const int32_t x = width < room ? (room - width) / 2 : 0;
  const int32_t y = (rows - height) / 2;
  const PglRect frame = ui->band->frame;
  const PwlBox clip{frame.left + face.left, frame.top + face.top, static_cast<uint32_t>(room),
                    static_cast<uint32_t>(rows)};
  PwlDrawText(font, 0, n, ui->title, ui->band, x, y, &clip, kInk, kFace);
  PwlReleaseFont(font);
}
