// Settings sections are found by walking the stored access class: the slot
// folder, the section's folders and the access or WAP profile, with another
// slot's profile standing in when the named one is missing. The class file
// is the user's, and so are the profile path and names: any of them must
// open or refuse every section, every folder found must enumerate, and the
// store must give back all it took. The harness works in a private folder,
// emptied before each input.
//
// Input: the active slot (1 byte), a flags byte (bit 0: open writable and
// save, bit 1: through the use-slot code, bit 2: read the stored slot again), the "slot/profile" path and the
// WAP profile name each ended by a 0 byte, then the access class file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/config_run.h"
#include "fuzz/private_folder.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/tskman.h"

namespace {

using namespace config_run;

bool EnterPrivateFolder() {
  return !FuzzPrivateFolder("config-fuzz", true).empty();
}

// Every value of the level, and every folder below it down to `depth`.
void Walk(ConfigHandle* h, int depth) {
  std::vector<std::string> folders;
  uintptr_t cursor = 0;
  const char* name = nullptr;
  uint32_t nameLength = 0, valueLength = 0;
  const uint8_t* value = nullptr;
  ConfigKind kind{};
  for (int n = 0; n < 300 && ConfigEnum(h, &cursor, &name, &nameLength, &value, &valueLength,
                                        &kind) == kOk;
       ++n) {
    Check(std::strlen(name) <= nameLength);
    if (kind == ConfigKind::Folder) folders.emplace_back(name, nameLength);
    int32_t i = 0;
    const char* s = nullptr;
    const char16_t* w = nullptr;
    ConfigGetInt(h, name, nameLength, &i);
    if (ConfigGetString(h, name, nameLength, &s) == kOk && s) Check(std::strlen(s) < 0x10000);
    ConfigGetWString(h, name, nameLength, &w);
  }
  if (depth == 0) return;
  for (const std::string& f : folders) {
    if (f.empty() || f.find('/') != std::string::npos) continue;
    if (ConfigOpenPath(h, f.data(), static_cast<uint32_t>(f.size()), false) != kOk) continue;
    Walk(h, depth - 1);
    ConfigClose(h, false);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((1u << 20) / 8);
  static const bool folder = EnterPrivateFolder();
  if (!folder || size < 2 || size > 16384) return 0;
  const uint32_t slot = data[0] % 40;
  const bool writable = data[1] & 1, useSlotCode = data[1] & 2;
  size_t at = 2;
  std::string path, wap;
  for (; at < size && data[at]; ++at) path += static_cast<char>(data[at]);
  for (++at; at < size && data[at]; ++at) wap += static_cast<char>(data[at]);
  ++at;
  // Each input starts from an empty folder: the copies a damaged file
  // leaves would otherwise pile up and change how later inputs run.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(".", ignored))
    std::filesystem::remove_all(entry.path(), ignored);
  if (std::FILE* f = std::fopen("access", "wb")) {
    if (at < size) std::fwrite(data + at, 1, size - at, f);
    std::fclose(f);
  }

  Run run;
  if (!run.Start(arena)) return 0;
  const Answer& answer = run.answer;

  ConfigSetActiveSlot(slot);
  ConfigSelectFromPath(path.c_str());
  ConfigSetWapProfileName(wap.c_str());
  ConfigSetUseSlot(path.substr(0, 2).c_str());
  // The stored "UseSlot" is read again on the next slot open.
  if (data[1] & 4) ConfigResetOpen();
  Pump();
  static const char* const kSections[] = {"//access", "isp",  "wapisp", "misp",
                                          "email",    "wap",  "http",   "slot",
                                          "service",  "email/pop3"};
  for (const char* section : kSections) {
    const int before = answer.answers;
    ConfigOpenEx(run.client, section, writable, useSlotCode);
    Pump();
    Check(answer.answers == before + 1);
    if (answer.status != kOk) {
      Check(answer.handle == nullptr);
      continue;
    }
    ConfigHandle* h = answer.handle;
    Check(h != nullptr);
    Walk(h, 3);
    if (section[0] == '/') {
      uint32_t found = 0;
      ConfigFindSlot(&found, h, "http://a/", 0);
    }
    if (writable) {
      ConfigSetInt(h, "n", 1);
      ConfigSave(h, nullptr);
    } else {
      ConfigRelease(&h);
    }
    Pump();
    const char* s = nullptr;
    const char* n = nullptr;
    ConfigGetActiveNames(&s, &n);
    Check(std::strlen(s) <= 2 && std::strlen(n) <= kConfigProfileName);
    ConfigGetWapProfile(&s, &n);
    Check(std::strlen(s) <= 2 && std::strlen(n) <= kConfigProfileName);
  }
  run.Stop();
  run.Finish();
  return 0;
}
