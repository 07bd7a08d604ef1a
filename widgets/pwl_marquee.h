// The marquee (control type 6): a line of text, optionally behind an image,
// moving sideways two pixels a step on a ticker entry of period 40. A plain
// marquee moves while enabled; one that is a link moves while it has the
// focus.
#pragma once
#include <cstdint>

#include "graphics/pgl.h"
#include "widgets/pwl.h"

struct BenAnchorRecord;
struct ContentImage;
struct FontInstance;
struct PwlTickerEntry;

// Messages 128 to 131 carry their value as the data word itself.
namespace PwlMarqueeMsg {
constexpr uint32_t Nothing = 15, SetFont = 16, SetFocusable = 17, Direction = 128,
                   Behaviour = 129, Loops = 130, Background = 131;
}

namespace PwlMarqueeBehaviour {
constexpr uint32_t Scroll = 0, Slide = 1, Alternate = 2, Continuous = 3;
}

constexpr int32_t kPwlMarqueePeriod = 40;
constexpr int32_t kPwlMarqueeStep = 2;

// The data of message 9.
struct PwlMarqueeBind {
  BenAnchorRecord* anchor;
  const char16_t* text;
  uint32_t mode;  // 1: moves only when wider than its rectangle
  uint32_t textOffset;
  uint32_t direct;
  const ContentImage* image;
};

// The data of message 16.
struct PwlMarqueeFont {
  FontInstance* font;
  uint32_t word;  // style in the low 16 bits, foreground colour in the high
};

struct PwlMarquee {
  PwlControl control;
  uint32_t hspace, vspace;
  BenAnchorRecord* anchor;  // set when the marquee is a link
  PwlTickerEntry* entry;
  const char16_t* text;  // the page's
  int32_t textWidth;
  FontInstance* font;
  uint16_t style;
  uint32_t direction;  // 0 left, else right
  uint32_t behaviour;  // PwlMarqueeBehaviour
  int32_t offset;      // the content's x from the inner left edge
  uint16_t foreground, background;
  uint32_t border;
  uint32_t loopsLeft, loops;  // loops 0: endless
  PglViewport* saved;         // the page under the marquee
  uint32_t mode;
  uint32_t textOffset;
  uint32_t direct;     // fill the background rather than keep the page
  PglViewport* image;  // the image as a surface, or null
  uint32_t held;       // halted under a balloon
};

extern const PwlControlClass kPwlMarqueeClass;
// Puts the marquee's row into the class table.
void PwlInstallMarqueeClass();
Result PwlMarqueeProc(PwlControl* control, PwlControl* source, void* data, uint32_t flags,
                      uint32_t message, uintptr_t argument);
// One step of the movement, without drawing.
void PwlMarqueeStep(PwlMarquee* marquee);
