// The download progress screen of the browser window: while a download is
// collected for installation it takes the content window, with a framed
// panel, a busy animation, the "downloading" lines and a progress bar. The
// images are the skin's download set in the built-in tree.
#pragma once
#include <cstdint>

// Marks the screen active, clears the content window and draws the panel
// with the busy animation's first frame, the two lines and the empty bar.
void UiProgressShow();
// Advances the busy animation one frame and, when the total is known, fills
// the bar to received * 100 / total percent and writes the percentage under
// it. Nothing while the screen is not active.
void UiProgressStep(uint32_t received, uint32_t total);
// Clears the active mark; what was drawn stays until the window is redrawn.
void UiProgressHide();
bool UiProgressActive();
