// The skin: the handset picture around the screen, its buttons, and the
// mapping of buttons and keys to handset commands, read from a skin settings
// file named by qor.ini.
#pragma once
#include <cstdint>
#include <string>

struct HostSettings;
class IniFile;

// One row of the button table; the table ends with a row whose key code is 0.
struct ShellSkinButton {
  int32_t keyCode;
  int32_t hitX, hitY, hitWidth, hitHeight;
  int32_t pressedBitmap;
  int32_t drawX, drawY, drawWidth, drawHeight;
};

constexpr int kShellSkinButtonCount = 25;
constexpr int kShellSkinMaxBitmaps = 8;

// How the skin gets its pictures: the window system loads an image file and
// tells whether the screen shows more than 256 colours.
struct ShellSkinImageOps {
  void* ctx;
  void* (*load)(void* ctx, const char* path);  // null when the file does not load
  void (*release)(void* ctx, void* image);
  bool (*highColour)(void* ctx);
};
void ShellSkinInstallImageOps(const ShellSkinImageOps* ops);

// 1 when the skin file was loaded, 0 otherwise (the previous skin is gone
// either way).
int ShellLoadSkin(const char* fileName, HostSettings* settings);
// The same from settings already read; `folder` is where relative picture
// paths are looked for after the working folder.
int ShellLoadSkinFrom(const IniFile& ini, const std::string& folder, HostSettings* settings);
void ShellUnloadSkin();
int ShellSkinLoaded();
// What the last ShellLoadSkin could not use, with the path it tried: the
// skin file, or a picture of it ("" when no skin file was named or all of
// it loaded).
const char* ShellSkinFailure();

// Bitmap 0 of the current set, and the pressed bitmap of a button (bitmap 0
// when its index is not below the number of bitmaps); null for an empty slot.
void* ShellSkinBitmap();
void* ShellSkinButtonBitmap(int32_t index);
// Chooses the current set anew for the screen's colour depth.
void ShellSkinChooseSet();

const ShellSkinButton* ShellSkinButtons();
// The command of a handset key code; stores the repeat and release commands
// (0 when none) and, for an access key, the character as the argument.
int32_t ShellSkinTranslateKey(uint32_t keyCode, int32_t* repeat, int32_t* release,
                              uintptr_t* argument);

// What the loader fills, also usable directly: a row of the button table,
// and the button that gives the command of a mapping key ("select" ...
// "pagedown"); false for an unknown mapping key.
void ShellSkinSetButton(int32_t index, const ShellSkinButton& row);
bool ShellSkinMapCommand(const char* mappingKey, int32_t keyCode);
void ShellSkinReset();

// Reads up to `max` integers written as "%d,%d,...": blanks may stand before
// a number, the commas must follow the numbers directly; returns how many
// were read before the text stopped matching.
int ShellSkinParseInts(const char* text, int32_t* out, int max);
