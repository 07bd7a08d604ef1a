#include "browser/uiprogress.h"

#include <cstdio>

#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "graphics/pict.h"
#include "kernel/qorrom.h"
#include "kernel/uistring.h"
#include "widgets/pwl.h"
#include "widgets/pwl_text.h"

namespace {

constexpr uint16_t kPanelColour = 0xDF7F;
constexpr uint16_t kInk = 0x0000;
constexpr uint32_t kBusyFrames = 7;
constexpr uint32_t kStringTable = 12, kDownloadingLine = 25, kWaitLine = 26;

struct Progress {
  bool active;
  uint32_t busyFrame;
  int32_t busyLeft, busyTop;
  int32_t barLeft, barTop;
  uint32_t barWidth, barHeight;
  int32_t textTop;  // of the percentage line
};
Progress gProgress{};

// One built-in image, held only while it is drawn.
class Image {
 public:
  explicit Image(const char* name) {
    if (PictLoadImage(name, 0, &surface_, &file_) != kOk) file_ = nullptr;
  }
  ~Image() {
    if (file_) QorRomRelease(file_);
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  bool ok() const { return file_ != nullptr; }
  int32_t width() const { return ok() ? static_cast<int32_t>(surface_.width) : 0; }
  int32_t height() const { return ok() ? static_cast<int32_t>(surface_.height) : 0; }
  void Draw(PwlWindow* window, int32_t x, int32_t y) {
    if (!ok()) return;
    const PglDrawArgs args{&surface_, 0, 0, width() - 1, height() - 1, x, y, 0, 0, 0};
    PwlDrawImage(window, &args);
  }

 private:
  PglSurface surface_{};
  const uint8_t* file_ = nullptr;
};

PwlWindow* ContentWindow() {
  UiWindow* ui = UiGetWindow();
  if (ui && !ui->content) {
    // The UI task makes its windows once the toolkit is up; asking for the
    // content window makes them.
    PwlWindow* content = nullptr;
    if (TskmanTask* task = TskmanFind(Mod::Ui))
      TskmanSend(task, UiMsg::GetContentWindow, reinterpret_cast<uintptr_t>(&content), 0);
  }
  return ui ? ui->content : nullptr;
}

void Fill(PwlWindow* window, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (right < left || bottom < top) return;
  const PglRect rect{left, top, right, bottom};
  PwlFillRect2(window, &rect, kPanelColour);
}

// The text centred on `middle` with its top at y; answers the line height.
int32_t DrawCentred(PwlWindow* window, FontInstance* font, const char16_t* text, int32_t middle,
                    int32_t y) {
  int32_t height = 0;
  PwlLineHeight(font, 0, &height);
  if (!text) return height;
  uint32_t n = 0;
  while (text[n]) ++n;
  int32_t width = 0;
  PwlTextWidth(font, 0, n, text, &width);
  PwlDrawText(font, 0, n, text, window, middle - width / 2, y, nullptr, kInk, kPanelColour);
  return height;
}

void DrawBusy(PwlWindow* window) {
  char name[40];
  std::snprintf(name, sizeof name, "ui/qorui/download/processing_bar_%u",
                static_cast<unsigned>(gProgress.busyFrame + 1));
  Image busy(name);
  busy.Draw(window, gProgress.busyLeft, gProgress.busyTop);
}

}  // namespace

void UiProgressShow() {
  PwlWindow* window = ContentWindow();
  gProgress = Progress{};
  gProgress.active = true;
  if (!window) return;
  PwlClear(window);
  PwlSize size{};
  PwlGetSize(window, &size);
  // The panel: the window inset by 3 pixels left and right, 2 top and bottom.
  const int32_t left = 3, top = 2;
  const int32_t right = static_cast<int32_t>(size.width) - 4;
  const int32_t bottom = static_cast<int32_t>(size.height) - 3;
  Image lt("ui/qorui/download/corner_lefttop"), rt("ui/qorui/download/corner_righttop");
  Image lb("ui/qorui/download/corner_leftbottom"), rb("ui/qorui/download/corner_rightbottom");
  Image lineTop("ui/qorui/download/line_top"), lineBottom("ui/qorui/download/line_bottom");
  Image lineLeft("ui/qorui/download/line_left"), lineRight("ui/qorui/download/line_right");
  Fill(window, left + lineLeft.width(), top + lineTop.height(), right - lineRight.width(),
       bottom - lineBottom.height());
  for (int32_t x = left + lt.width(); x <= right - rt.width(); ++x) {
    lineTop.Draw(window, x, top);
    lineBottom.Draw(window, x, bottom - lineBottom.height() + 1);
  }
  for (int32_t y = top + lt.height(); y <= bottom - lb.height(); ++y) {
    lineLeft.Draw(window, left, y);
    lineRight.Draw(window, right - lineRight.width() + 1, y);
  }
  lt.Draw(window, left, top);
  rt.Draw(window, right - rt.width() + 1, top);
  lb.Draw(window, left, bottom - lb.height() + 1);
  rb.Draw(window, right - rb.width() + 1, bottom - rb.height() + 1);

  const int32_t middle = static_cast<int32_t>(size.width) / 2;
  Image busy("ui/qorui/download/processing_bar_1");
  gProgress.busyLeft = middle - busy.width() / 2;
  gProgress.busyTop = static_cast<int32_t>(size.height) / 2 - 30;
  busy.Draw(window, gProgress.busyLeft, gProgress.busyTop);
  int32_t y = gProgress.busyTop + busy.height() + 5;
  FontInstance* font = nullptr;
  if (PwlOpenBodyFont(&font) == kOk) {
    y += DrawCentred(window, font, UiGetString(kStringTable, kDownloadingLine), middle, y);
    y += DrawCentred(window, font, UiGetString(kStringTable, kWaitLine), middle, y);
    PwlReleaseFont(font);
  }
  Image border("ui/qorui/download/progress_border");
  gProgress.barWidth = static_cast<uint32_t>(border.width());
  gProgress.barHeight = static_cast<uint32_t>(border.height());
  gProgress.barLeft = middle - border.width() / 2;
  gProgress.barTop = y;
  gProgress.textTop = y + border.height() + 2;
  border.Draw(window, gProgress.barLeft, gProgress.barTop);
}

void UiProgressStep(uint32_t received, uint32_t total) {
  if (!gProgress.active) return;
  PwlWindow* window = ContentWindow();
  if (!window) return;
  gProgress.busyFrame = (gProgress.busyFrame + 1) % kBusyFrames;
  DrawBusy(window);
  if (!total) return;
  const uint32_t percent =
      static_cast<uint32_t>((uint64_t{received > total ? total : received} * 100) / total);
  Image start("ui/qorui/download/progress_start"), line("ui/qorui/download/progress_line");
  Image end("ui/qorui/download/progress_end");
  // The parts sit on the bar's middle line.
  auto topOf = [](const Image& part) {
    return gProgress.barTop + (static_cast<int32_t>(gProgress.barHeight) - part.height()) / 2;
  };
  start.Draw(window, gProgress.barLeft, topOf(start));
  const int32_t inner = static_cast<int32_t>(gProgress.barWidth) - 2 * end.width();
  const int32_t columns = inner * static_cast<int32_t>(percent) / 100;
  for (int32_t c = 1; c <= columns; ++c)
    if (c % 10 != 0) line.Draw(window, gProgress.barLeft + end.width() + c - 1, topOf(line));
  if (percent == 100)
    end.Draw(window, gProgress.barLeft + static_cast<int32_t>(gProgress.barWidth) - end.width(),
             topOf(end));

  char text[16];
  std::snprintf(text, sizeof text, "%u %%", static_cast<unsigned>(percent));
  char16_t wide[16];
  uint32_t n = 0;
  for (; text[n]; ++n) wide[n] = static_cast<char16_t>(text[n]);
  wide[n] = 0;
  FontInstance* font = nullptr;
  if (PwlOpenBodyFont(&font) != kOk) return;
  int32_t height = 0;
  PwlLineHeight(font, 0, &height);
  // The widest text, "100 %", is cleared each time so a shorter one leaves
  // nothing behind.
  int32_t widest = 0;
  PwlTextWidth(font, 0, 5, u"100 %", &widest);
  const int32_t middle = gProgress.barLeft + static_cast<int32_t>(gProgress.barWidth) / 2;
  Fill(window, middle - widest / 2 - 1, gProgress.textTop, middle + widest / 2 + 1,
       gProgress.textTop + height - 1);
  DrawCentred(window, font, wide, middle, gProgress.textTop);
  PwlReleaseFont(font);
}

void UiProgressHide() { gProgress.active = false; }

bool UiProgressActive() { return gProgress.active; }
