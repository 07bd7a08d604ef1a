// Personal-data records (the pims row) come from pages: any body ends with
// the row's "stored" answer, its out-of-memory code or the handset's refusal,
// every field handed over fits its room, and nothing stays behind. The
// first input byte's top bit is also the handset's answer: store or refuse.
#include <cstring>

#include "content/handover_rows.h"
#include "fuzz/row_fuzz.h"
#include "host/platform/handover.h"

namespace {

constexpr UrlContentTypeRow kPims{PimsContentProcess, PimsContentRelease, "", 0, "", "", 0};
bool gRefuse = false;

Result Store(const char* f1, const char* f2, const char* f3, const char* f4, const char* f5,
             const char* f6) {
  const char* fields[] = {f1, f2, f3, f4, f5, f6};
  const size_t rooms[] = {5, 16, 32, 32, 32, 32};
  for (int i = 0; i < 6; ++i) RowCheck(fields[i] && std::strlen(fields[i]) <= rooms[i]);
  return gRefuse ? kHandsetNone : kOk;
}

const HandoverOps kOps{Store, nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HandoverInstall(&kOps);
  gRefuse = size > 0 && (data[0] & 0x80);
  FuzzRowRun(
      data, size, "http://h/records.pims", 4u << 20,
      [](UrlLoad* load) { load->contentRow = &kPims; },
      [](Result r, UrlLoad* load) {
        RowCheck(r == kOk || r == PimsCode::Stored || r == PimsCode::NoMemory || r == kHandsetNone);
        if (r != kOk) RowCheck(load->handlerState == nullptr);
      });
  HandoverInstall(nullptr);
  return 0;
}
