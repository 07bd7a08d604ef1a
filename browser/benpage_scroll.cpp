// Page scrolling: the page and its view window move together. The toolkit
// reaches it through its page scroller, which the browser window installs.
#include "browser/benpage.h"
#include "widgets/pwl.h"

namespace {

// The page and its view window move together: the window's origin is the
// page's scroll top.
void ScrollTo(BenPage* page, uint32_t top) {
  page->scrollTop = top;
  if (page->view) {
    PwlOrigin origin{};
    PwlGetOrigin(page->view, &origin);
    origin.y = top;
    PwlSetOrigin(page->view, &origin);
  }
}

bool AtBottom(const BenPage* page, uint32_t margin) {
  return uint64_t{page->scrollTop} + margin + 1 >= page->contentHeight;
}

}  // namespace

Result BenPageScrollToEdge(BenPage* page, uint32_t direction, uint32_t margin) {
  if (direction == 1) {
    if (page->scrollTop == 0) return kBenPageAtEdge;
    const uint32_t mark = BenScrollMark;
    BenScrollMark = 1;
    ScrollTo(page, 0);
    BenScrollMark = mark;
    return kOk;
  }
  return BenPageScrollToBottom(page, margin);
}

Result BenPageScrollToBottom(BenPage* page, uint32_t margin) {
  if (AtBottom(page, margin)) return kBenPageAtEdge;
  ScrollTo(page, page->contentHeight - margin - 1);
  return kOk;
}

void BenPageInstallScroller() {
  static constexpr PwlPageScroller kScroller{BenPageScrollToEdge, BenPageScrollToBottom};
  PwlSetPageScroller(&kScroller);
}
