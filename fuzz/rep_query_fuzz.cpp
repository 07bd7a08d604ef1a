// Addresses read back from the channel repository (rep:) and documents asked
// for by chan: links. Byte 0 picks the scheme (bit 0: chan:, else rep:);
// the rest up to a zero byte follows the scheme's colon. The repository
// holds two resources: 0 (http://h/a.txt, no type) and 1
// (http://h/b/c.wbmp?x=1, a wireless bitmap). Over the real settings task and
// the repository's own task: a rep: address ends in its data, in one of the
// scheme's failure codes or in nothing at all; a resource found by number
// brings its whole data; a chan: address starts a fetch or is refused; and
// once the tasks have ended nothing stays behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "browser/url.h"
#include "fuzz/config_run.h"
#include "fuzz/private_folder.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "services/channels/rep.h"

namespace {

using namespace config_run;

const char kTextData[] = "resource zero";
const uint8_t kWbmpData[] = {0, 0, 8, 2, 0xFF, 0x81};

void Resource(ConfigHandle* h, const char* number, const char* url, int32_t type, const void* data,
              uint32_t length) {
  Check(ConfigOpenPath(h, number, 0, true) == kOk);
  Check(ConfigSetString(h, "url", url) == kOk);
  Check(ConfigSetInt(h, "usage", 1) == kOk);
  Check(ConfigSetInt(h, "content", type) == kOk);
  Check(ConfigSetRaw(h, "data", 0, data, length, ConfigKind::Raw) == kOk);
  Check(ConfigClose(h, true) == kOk);
}

// Written once into the private folder; every run reads it back.
void WriteRepository(TskmanTask* client, Answer* answer) {
  ConfigOpen(client, "repository", true);
  Pump();
  Check(answer->status == kOk && answer->handle);
  ConfigHandle* h = answer->handle;
  Check(ConfigOpenPath(h, "Resource", 0, true) == kOk);
  Check(ConfigSetInt(h, "numres", 2) == kOk);
  Check(ConfigSetInt(h, "freeres", 2) == kOk);
  Resource(h, "0", "http://h/a.txt", 0, kTextData, sizeof kTextData - 1);
  Resource(h, "1", "http://h/b/c.wbmp?x=1", 33, kWbmpData, sizeof kWbmpData);
  Check(ConfigClose(h, true) == kOk);
  Check(ConfigSave(h, nullptr) == kOk);
  Pump();
}

// The digits of a rep: address naming a stored resource by its number.
int32_t Number(const std::string& rest) {
  if (rest == "//0") return 0;
  if (rest == "//1") return 1;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((2u << 20) / 8);
  static const bool folder = !FuzzPrivateFolder("rep-query-fuzz", true).empty();
  static bool written = false;
  if (!folder || size < 1 || size > 2048) return 0;
  Run run;
  if (!run.Start(arena)) return 0;
  if (!written) {
    WriteRepository(run.client, &run.answer);
    written = true;
  }

  const bool chan = data[0] & 1;
  const std::string rest(reinterpret_cast<const char*>(data + 1),
                         strnlen(reinterpret_cast<const char*>(data + 1), size - 1));
  const std::string address = (chan ? "chan:" : "rep:") + rest;
  UrlParsed parsed{};
  if (UrlParse(&parsed, address.c_str(), 0) == kOk) {
    UrlLoad* load = UrlLoadCreate(&parsed);
    UrlFreeParsed(&parsed);
    Check(load != nullptr);
    if (chan) {
      const Result r = ChanSchemeStart(nullptr, load);
      Check(r == kOk || r == 0x801F0001);
      if (r == kOk) Check(ChanSchemeStep(nullptr, load) == kOk && load->endOfData);
      Pump();
    } else {
      Result r = RepSchemeStart(nullptr, load);
      for (int step = 0; r == kOk && !load->endOfData && load->schemeRecord; ++step) {
        Check(step < 100);
        Pump();
        r = RepSchemeStep(nullptr, load);
      }
      // Failures carry the scheme's own prefix.
      Check(r == kOk || (r & 0xFFFF0000u) == 0x803F0000u || r == ReplibCode::NoMemory);
      const int32_t number = Number(rest);
      if (number >= 0) {
        Check(r == kOk && load->endOfData);
        const uint32_t want = number == 0 ? sizeof kTextData - 1 : sizeof kWbmpData;
        Check(UtilDataChunkQueueBytes(&load->input) == want);
      }
      RepSchemeClose(nullptr, load);
      Check(load->schemeRecord == 0);
    }
    UrlLoadFree(load);
  }
  Pump();
  run.Stop();
  Check(TskmanFind(Mod::WtlReplib) == nullptr && TskmanFind(Mod::WtlRepository) == nullptr);
  run.Finish();
  return 0;
}
