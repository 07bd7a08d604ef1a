// The font chooser behind the font layer's FontAskUser: the desktop's font
// dialog, and the write-back of the choice to qor.ini.
#pragma once

struct FontChooserOps;

// The chooser the Qt host installs (FontInstallChooser) while it runs.
const FontChooserOps* QtFontChooser();
