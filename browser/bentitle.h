// The browser view's chrome: a bevelled box in the middle of the soft-key
// band, between the two labels, holding the view's title line. The host's
// text-input window names the typing state there while it has the focus.
#pragma once
#include <cstdint>

struct UiWindow;

// Pixels the chrome box keeps free on each side of the band for the labels.
constexpr int32_t kBenChromeInset = 28;

// Redraws the box's bevelled border: `inset` pixels in from both sides of
// the band and `height` rows down from its top (cut to the band).
void BenDrawBevel(UiWindow* ui, int32_t inset, int32_t height);
// Makes the title (followed by the second text, when given) the view's title
// and redraws the title line inside the box, centred and cut to it. No flags
// are defined: 0.
void BenDrawTitleBar(UiWindow* ui, const char16_t* title, const char16_t* second, uint32_t flag);
