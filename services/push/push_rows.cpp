#include "services/push/push_rows.h"

#include "services/push/cid_scheme.h"
#include "services/push/notify_scheme.h"
#include "services/push/sisl.h"

const UrlContentTypeRow kPushContentRows[] = {
    {SiSlContentProcess, SiSlContentRelease, "sic", UrlType::Sic, "application", "vnd.wap.sic", 8},
    {SiSlContentProcess, SiSlContentRelease, "slc", UrlType::Slc, "application", "vnd.wap.slc", 8},
};
const uint32_t kPushContentRowCount = sizeof kPushContentRows / sizeof kPushContentRows[0];

const UrlSchemeRow kPushSchemeRows[] = {
    {NotifySchemeStep, NotifySchemeClose, "notify", nullptr, nullptr, NotifySchemeStart, 0},
    {CidSchemeStep, CidSchemeClose, "cid", nullptr, nullptr, CidSchemeStart, 0},
};
const uint32_t kPushSchemeRowCount = sizeof kPushSchemeRows / sizeof kPushSchemeRows[0];

void PushRowsInstall() {
  UrlSetServiceRows(kPushContentRows, kPushContentRowCount, kPushSchemeRows, kPushSchemeRowCount);
}

void PushRowsRemove() { UrlSetServiceRows(nullptr, 0, nullptr, 0); }
