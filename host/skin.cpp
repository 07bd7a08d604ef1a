// The skin's tables. No skin files are read yet: the host runs on its
// phone-size geometry, and the tables stay empty unless filled.
#include "host/skin.h"

#include <cstring>

#include "host/platform/shell.h"

namespace {

constexpr int32_t kCharacterKey = 27;

// Mapping keys with their command, repeat command and release command.
struct CommandRow {
  const char* key;
  int32_t command, repeat, release;
};
constexpr CommandRow kCommands[] = {
    {"select", 1, 0, 0},    {"next", 3, 24, 25},    {"prev", 4, 23, 25},
    {"down", 6, 24, 25},    {"up", 5, 23, 25},      {"nextlist", 7, 0, 0},
    {"prevlist", 8, 0, 0},  {"deselect", 2, 0, 0},  {"soft1", 9, 0, 0},
    {"soft2", 10, 0, 0},    {"back", 21, 0, 0},     {"info", 13, 0, 0},
    {"notify", 14, 0, 0},   {"home", 12, 0, 0},     {"pageup", 15, 17, 0},
    {"pagedown", 16, 18, 0},
};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

ShellSkinButton gButtons[kShellSkinButtonCount + 1];
int32_t gMappedKey[kCommandCount];  // button key code of each mapping row, 0 unmapped

}  // namespace

int ShellLoadSkin(const char*, HostSettings*) { return 0; }
int ShellSkinLoaded() { return 0; }
const ShellSkinButton* ShellSkinButtons() { return gButtons; }

void ShellSkinSetButton(int32_t index, const ShellSkinButton& row) {
  if (index >= 0 && index < kShellSkinButtonCount) gButtons[index] = row;
}

bool ShellSkinMapCommand(const char* mappingKey, int32_t keyCode) {
  for (int i = 0; i < kCommandCount; ++i)
    if (std::strcmp(kCommands[i].key, mappingKey) == 0) {
      gMappedKey[i] = keyCode;
      return true;
    }
  return false;
}

void ShellSkinReset() {
  std::memset(gButtons, 0, sizeof gButtons);
  std::memset(gMappedKey, 0, sizeof gMappedKey);
  ShellKeyMapClear();
}

int32_t ShellSkinTranslateKey(uint32_t keyCode, int32_t* repeat, int32_t* release,
                              uintptr_t* argument) {
  *repeat = 0;
  *release = 0;
  if (uint16_t ch = ShellKeyMapLookup(keyCode)) {
    *argument = ch;
    return kCharacterKey;
  }
  for (int i = 0; i < kCommandCount; ++i)
    if (gMappedKey[i] != 0 && static_cast<uint32_t>(gMappedKey[i]) == keyCode) {
      *repeat = kCommands[i].repeat;
      *release = kCommands[i].release;
      return kCommands[i].command;
    }
  return 0;
}
