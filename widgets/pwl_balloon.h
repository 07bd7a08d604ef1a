// The text balloon: a title shown for three seconds in a small box with a
// pointer next to a control, drawn straight onto the screen over the page.
// The screen under it is saved first and put back when it goes; the page
// animations and marquees under it stand still meanwhile.
#pragma once
#include <cstdint>

#include "host/platform/font.h"
#include "widgets/pwl.h"

constexpr uint32_t kPwlBalloonMs = 3000;
namespace PwlBalloonColour {
constexpr uint16_t Ink = 0x0000, Fill = 0xFFDB;
}

// Shows count characters of text next to the anchor (drawing coordinates of
// the window); 0, or the surface error when the screen cannot be saved.
Result PwlShowBalloon(const FontInstance* font, uint32_t style, uint32_t count,
                      const char16_t* text, PwlWindow* window, const PglRect* anchor);
// Takes the window's balloon down now: the screen back, and what it stopped
// running again.
void PwlRestoreSavedAreas(PwlWindow* window);

// The browser window's page animations that overlap a screen rectangle
// stop and are marked; the resume runs the marked ones again.
void PwlStopAnimationsUnder(int32_t left, int32_t top, int32_t right, int32_t bottom);
void PwlResumeAnimations();
// The same for the running plain marquees of a window.
void PwlStopMarqueesUnder(PwlWindow* window, int32_t left, int32_t top, int32_t right,
                          int32_t bottom);
void PwlRestartMarquees(PwlWindow* window);
