// What rendering (module 17) reads of the browser window for the controls.
#pragma once

// The browser window's current string, or null while there is none.
const char16_t* RenderGetWindowString();
