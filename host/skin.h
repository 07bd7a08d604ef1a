// The skin: the handset picture around the screen, its buttons and the
// mapping of buttons and keys to handset commands.
#pragma once
#include <cstdint>

struct HostSettings;

// One row of the button table; the table ends with a row whose key code is 0.
struct ShellSkinButton {
  int32_t keyCode;
  int32_t hitX, hitY, hitWidth, hitHeight;
  int32_t pressedBitmap;
  int32_t drawX, drawY, drawWidth, drawHeight;
};

constexpr int kShellSkinButtonCount = 25;

// 1 when the skin file was loaded, 0 otherwise.
int ShellLoadSkin(const char* fileName, HostSettings* settings);
// Whether a skin is loaded.
int ShellSkinLoaded();
const ShellSkinButton* ShellSkinButtons();
// The command of a handset key code; stores the repeat and release commands
// (0 when none) and, for an access key, the character as the argument.
int32_t ShellSkinTranslateKey(uint32_t keyCode, int32_t* repeat, int32_t* release,
                              uintptr_t* argument);

// What the loader fills: a row of the button table, and the button that
// gives the command of a mapping key ("select" ... "pagedown"); false for an
// unknown mapping key.
void ShellSkinSetButton(int32_t index, const ShellSkinButton& row);
bool ShellSkinMapCommand(const char* mappingKey, int32_t keyCode);
void ShellSkinReset();
