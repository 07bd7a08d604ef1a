// Push reception, local content and the inbox's save and restore through
// their real tasks, over a small heap and a small quota: the input is a run
// of steps, each a command byte, a length byte and that many bytes:
//   0 an SI, 1 an SL, 2 a connectivity document, 3 a local-content push
//   (multipart or a single page), 4 a push to no application: the bytes are
//   the pushed body;
//   5 the oldest message of the inbox deleted (with bytes whose first is
//   odd: the newest one viewed instead, then the cache gives up all it
//   may, which takes nothing from the inbox); 6 the services stopped and
//   started again (the inbox saved and read back); 7 the same with the bytes
//   as the class file in between; 8 the heap cut to 64 times the first byte
//   until the next restart; 9 the quota set to 40 times the first two bytes.
// Whatever comes, the tasks stop, nothing is left on the heap and the heap
// is sound.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "fuzz/config_run.h"
#include "fuzz/private_folder.h"
#include "host/platform/files.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/ubstore.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/service_rows.h"
#include "tests/support/pushed_object.h"

namespace {

using config_run::Check;
using config_run::Pump;

void Quiet(const char*, int, const char*) {}

// Blocks taken until about `reserve` bytes are left.
std::vector<void*> Eat(uint32_t reserve) {
  std::vector<void*> eaten;
  for (uint32_t size = 1u << 18; size >= 16; size /= 2)
    while (HeapGetStats().freeBytes > reserve + size)
      if (void* p = MemAlloc(size, Use::Data, Mod::TestCode))
        eaten.push_back(p);
      else
        break;
  return eaten;
}

void GiveBack(std::vector<void*>* eaten) {
  for (void* p : *eaten) MemFreeRaw(p);
  eaten->clear();
}

class Services {
 public:
  explicit Services(TskmanTask* starter) : starter_(starter) {}
  void Start() {
    LcStartTask(starter_);
    if (NotifyStartTask(starter_) == kOk) Pump();
  }
  void Stop() {
    NotifyStopTask();
    Pump();
    LcStopTask(starter_);
    Pump();
    Check(!TskmanFind(Mod::Notify) && !TskmanFind(Mod::LocalContent));
  }
  // Places a pushed object as delivery does and announces it.
  void Push(const char* mime, const std::string& body, const char* application) {
    if (!TskmanFind(Mod::Notify)) return;
    const std::string url = "push:+4911." + std::to_string(++serial_);
    UrlLoad* load = CachePushedObject(url, mime, body);
    if (!load) return;
    if (application) UrlAddHeader(load, "X-Wap-Application-Id", application);
    char* copy = LibcStrDup(url.c_str());
    if (!copy) {
      // As push reception lets a push go: out of the cache, then its lock.
      CacheRemove(load);
      UrlLoadClearFlags(load, UrlFlag::Kept);
      return;
    }
    TskmanPost(TskmanFind(Mod::Notify), NotifyMsg::Push, reinterpret_cast<uintptr_t>(copy), 0);
    Pump();
  }
  void DeleteOldest() {
    NotifyInboxCursor* cursor = nullptr;
    if (NotifyOpenInboxCursor(&cursor) != kOk) return;
    uint32_t code = 0, level = 0;
    UrlLoad* last = nullptr;
    while (UrlLoad* m = NotifyNextKept(cursor, &code, &level)) last = m;
    NotifyCloseInboxCursor(&cursor);
    NotifyRemoveMessage(last);
    Pump();
  }
  void ViewNewestThenRunShort() {
    NotifyInboxCursor* cursor = nullptr;
    if (NotifyOpenInboxCursor(&cursor) != kOk) return;
    uint32_t code = 0, level = 0;
    UrlLoad* first = NotifyNextKept(cursor, &code, &level);
    NotifyCloseInboxCursor(&cursor);
    if (first) NotifyMarkMessage(first, UrlFlag::Viewed);
    const uint32_t listed = NotifyKeptCount();
    while (CacheFreeOne()) {
    }
    Check(NotifyKeptCount() == listed);
    Pump();
  }

 private:
  TskmanTask* starter_;
  uint32_t serial_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((3u << 19) / 8);
  static const bool folder = !FuzzPrivateFolder("push-inbox-fuzz", true).empty();
  if (!folder || size > 8192) return 0;
  PlatformFileOnFailure(Quiet);
  // Each run starts from no class file (nor copies of damaged ones).
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(".", ignored))
    std::filesystem::remove(entry.path(), ignored);
  UbstoreSetQuota("repository", 8000);
  config_run::Run run;
  if (!run.Start(arena)) return 0;
  TskmanTask* starter = nullptr;
  TskmanCreateTask(&starter, Mod::UiStart, config_run::Client, nullptr);
  Pump();
  ServiceRowsInstall();
  Services services(starter);
  services.Start();
  std::vector<void*> eaten;
  for (size_t at = 0; at + 2 <= size;) {
    const uint8_t command = data[at] % 10;
    const size_t length = data[at + 1] < size - at - 2 ? data[at + 1] : size - at - 2;
    const std::string bytes(reinterpret_cast<const char*>(data + at + 2), length);
    at += 2 + length;
    switch (command) {
      case 0:
        services.Push("application/vnd.wap.sic", bytes, nullptr);
        break;
      case 1:
        services.Push("application/vnd.wap.slc", bytes, "0");
        break;
      case 2:
        services.Push("application/vnd.wap.connectivity-wbxml", bytes, nullptr);
        break;
      case 3:
        services.Push("multipart/related", bytes, "32768");
        break;
      case 4:
        services.Push("text/plain", bytes, "x-unknown");
        break;
      case 5:
        if (length && (bytes[0] & 1))
          services.ViewNewestThenRunShort();
        else
          services.DeleteOldest();
        break;
      case 6:
      case 7:
        services.Stop();
        GiveBack(&eaten);
        if (command == 7) std::ofstream("repository", std::ios::binary) << bytes;
        services.Start();
        break;
      case 8:
        GiveBack(&eaten);
        eaten = Eat(64u * (length ? data[at - length] : 0));
        break;
      case 9:
        if (length >= 2)
          UbstoreSetQuota("repository", 40 * (data[at - length] << 8 | data[at - length + 1]));
        break;
    }
  }
  services.Stop();
  GiveBack(&eaten);
  ServiceRowsRemove();
  TskmanDestroyTask(starter);
  run.Stop();
  run.Finish();
  PlatformFileOnFailure(nullptr);
  return 0;
}
