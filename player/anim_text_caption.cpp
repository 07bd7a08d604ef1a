// The caption ticker: a line of handset text the host draws over the movie.
// A static caption is sent whole every frame (blanked on odd frames when it
// blinks); a scrolling one reveals a few more bytes each frame, first
// growing from the left and then running as a window as wide as the frame
// holds characters. Window ends never split a two-byte character.
#include <cstdint>
#include <cstring>

#include "player/anim_player.h"
#include "player/anim_text.h"

namespace {

int32_t Clamp(int64_t v, int32_t high) { return static_cast<int32_t>(v < 0 ? 0 : v > high ? high : v); }

// The first character boundary at or after offset (a byte with its high bit
// set begins a two-byte character), at most the text's length.
uint32_t Boundary(const AnimCaption& c, uint32_t offset) {
  uint32_t i = 0;
  while (i < offset && i < c.length) i += (static_cast<uint8_t>(c.text[i]) & 0x80) ? 2 : 1;
  return i < c.length ? i : c.length;
}

void Send(AnimPlayer* p, uint32_t first, uint32_t style, uint32_t start, uint32_t end, uint32_t mode) {
  AnimCaption& c = p->caption;
  const uint32_t n = end > start ? end - start : 0;
  std::memcpy(c.window, c.text + start, n);
  c.window[n] = 0;
  c.windowStart = start;
  c.windowEnd = start + n;
  c.last = AnimCaptionLine{first,  style,           c.left, c.top, c.right, c.bottom, c.size,
                           c.textColour, c.backgroundColour, n ? n + 1 : 0, mode, c.window};
  ++c.sent;
  AnimHook_Caption(p, &c.last);
}

void Release(AnimPlayer* p) {
  AnimCaption& c = p->caption;
  AnimPlayer_Free(p, c.text);
  AnimPlayer_Free(p, c.window);
  const uint32_t sent = c.sent;
  const AnimCaptionLine last = c.last;
  c = AnimCaption{};
  c.sent = sent;
  c.last = last;
  c.last.text = nullptr;
}

}  // namespace

void AnimHook_Caption(AnimPlayer*, const AnimCaptionLine*) {}

uint32_t AnimCaption_Start(AnimPlayer* p, const char* text, int32_t leftPercent, int32_t topPercent,
                           int32_t rightPercent, int32_t bottomPercent, uint32_t size, int32_t startFrame,
                           int32_t endFrame, uint32_t textColour, uint32_t backgroundColour, uint32_t flags) {
  const int64_t w = p->frameWidth, h = p->frameHeight;
  auto part = [](int64_t whole, int32_t percent) {
    const int64_t v = whole * percent / 100;
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
  };
  return AnimCaption_StartAt(p, text, part(w, leftPercent), part(h, topPercent), part(w, rightPercent),
                             part(h, bottomPercent), size, startFrame, endFrame, textColour,
                             backgroundColour, flags);
}

uint32_t AnimCaption_StartAt(AnimPlayer* p, const char* text, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, uint32_t size, int32_t startFrame, int32_t endFrame,
                             uint32_t textColour, uint32_t backgroundColour, uint32_t flags) {
  // The step divides the text by the span: a range ending before it starts
  // has no frames to show the text in.
  const int64_t span = static_cast<int64_t>(endFrame) - startFrame + 1;
  if (span <= 0 || !text) return kAnimCaptionRefused;
  Release(p);
  AnimCaption& c = p->caption;
  c.length = static_cast<uint32_t>(std::strlen(text));
  c.text = static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(c.length + 1)));
  c.window = c.text ? static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(c.length + 1))) : nullptr;
  if (!c.window) {
    Release(p);
    return kAnimCaptionNoMemory;
  }
  std::memcpy(c.text, text, c.length + 1);
  c.textColour = textColour;
  c.backgroundColour = backgroundColour;
  c.flags = flags;
  c.size = size;
  c.startFrame = startFrame;
  c.endFrame = endFrame;
  c.span = static_cast<uint32_t>(span);
  c.step = static_cast<uint32_t>((c.length + span - 1) / span);
  const int32_t w = p->frameWidth, h = p->frameHeight;
  c.left = Clamp(left, w - 1);
  c.right = Clamp(right, w - 1);
  c.top = Clamp(top, h - 1);
  c.bottom = Clamp(bottom, h - 1);
  if (c.bottom - c.top < 10) c.top = c.bottom - 10;
  c.tick = c.windowStart = c.windowEnd = 0;
  AnimPlayer_Command(p, 4, 5);
  return kAnimCaptionStarted;
}

uint32_t AnimCaption_StartDefinition(AnimPlayer* p, const AnimEditText* d) {
  if (!d) return kAnimCaptionRefused;
  const uint32_t background = static_cast<uint32_t>(d->options[0]) << 24 |
                              static_cast<uint32_t>(d->options[1]) << 16 |
                              static_cast<uint32_t>(d->options[2]) << 8 | d->options[3];
  return AnimCaption_Start(p, d->text ? d->text : "", d->bounds.xmin, d->bounds.ymin, d->bounds.xmax,
                           d->bounds.ymax, static_cast<uint32_t>(d->fontHeight), d->firstFrame,
                           d->lastFrame, d->color, background, d->flags);
}

void AnimCaption_Tick(AnimPlayer* p) {
  AnimCaption& c = p->caption;
  if (!c.text) return;
  uint32_t style = (c.flags & kAnimCaptionRedrawsView) ? 0x86 : 0x286;
  if (c.flags & kAnimCaptionStyle20) style |= 0x20;
  const bool blank = (c.flags & kAnimCaptionBlink) && (c.tick & 1);
  if (!(c.flags & kAnimCaptionScroll)) {
    Send(p, 8000, style, 0, blank ? 0 : c.length, 2);
  } else if (blank) {
    Send(p, 0, style, 0, 0, 0);
  } else {
    const uint64_t visible = static_cast<uint64_t>(p->frameWidth > 0 ? p->frameWidth : 0) / 6;
    const uint64_t revealed = (static_cast<uint64_t>(c.tick) + 1) * c.step;
    const uint32_t end = Boundary(c, static_cast<uint32_t>(revealed < c.length ? revealed : c.length));
    if (revealed < visible) {
      Send(p, 8000, style, 0, end, 1);
    } else {
      // Once the window's start passes the text's end the ticker stays put.
      if (revealed - visible >= c.length) return;
      Send(p, 0, style, Boundary(c, static_cast<uint32_t>(revealed - visible)), end, 0);
    }
  }
  ++c.tick;
}

void AnimCaption_Free(AnimPlayer* p) { Release(p); }

void AnimCaption_Stop(AnimPlayer* p) {
  AnimPlayer_Command(p, 4, 6);
  Release(p);
  AnimHook_Notify(p, kAnimNotifyRedraw, 0, 0, p->frameWidth, p->frameHeight);
  p->redrawPending = 1;
}
