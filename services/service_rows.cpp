#include "services/service_rows.h"

#include "content/vcalca.h"
#include "kernel/config.h"
#include "markup/varparse.h"

#include "services/channels/rep.h"
#include "services/provisioning/prov.h"
#include "services/push/cid_scheme.h"
#include "services/push/notify_scheme.h"
#include "services/push/notify_store.h"
#include "services/push/sisl.h"
#include "services/wmlscript/wmls_content.h"
#include "services/wtai/wtai.h"

const UrlContentTypeRow kServiceTypeRows[] = {
    {ProvProcess, ProvRelease, "provc", UrlType::ConnectivityWbxml, "application",
     "vnd.wap.connectivity-wbxml", 2},
    {RepContentProcess, RepContentRelease, "chanc;chc", kRepChannelType, "application",
     "vnd.wap.channelc;x-wap.channelc", kRepChannelClass},
    {SiSlContentProcess, SiSlContentRelease, "sic", UrlType::Sic, "application", "vnd.wap.sic", 8},
    {SiSlContentProcess, SiSlContentRelease, "slc", UrlType::Slc, "application", "vnd.wap.slc", 8},
    {WmlsContentProcess, WmlsContentRelease, "wmlsc", UrlType::WmlScriptc, "application",
     "vnd.wap.wmlscriptc;x-wap.wmlscriptc", 7},
};
const uint32_t kServiceTypeRowCount = sizeof kServiceTypeRows / sizeof kServiceTypeRows[0];

const UrlSchemeRow kServiceSchemeRows[] = {
    {RepSchemeStep, RepSchemeClose, "rep", nullptr, nullptr, RepSchemeStart, 0},
    {ChanSchemeStep, nullptr, "chan", nullptr, nullptr, ChanSchemeStart, 0},
    {WtaiSchemeStep, nullptr, "wtai;dialto;tel;smsto", nullptr, nullptr, WtaiSchemeStart, 0},
    {NotifySchemeStep, NotifySchemeClose, "notify", nullptr, nullptr, NotifySchemeStart, 0},
    {CidSchemeStep, CidSchemeClose, "cid", nullptr, nullptr, CidSchemeStart, 0},
};
const uint32_t kServiceSchemeRowCount = sizeof kServiceSchemeRows / sizeof kServiceSchemeRows[0];

// Every template job reads these unless it is given its own: the content
// handlers' "vc" and the inbox's "notify" (the settings pages count the
// inbox too).
const VarParseSource kServiceSources[] = {
    kVcSourceRow,
    kNotifySourceRow,
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

namespace {
const VarParseSource* gSourcesBefore;
}

void ServiceRowsInstall() {
  UrlSetServiceRows(kServiceTypeRows, kServiceTypeRowCount, kServiceSchemeRows,
                    kServiceSchemeRowCount);
  const VarParseSource* before = VarParseInstallSources(kServiceSources);
  if (before != kServiceSources) gSourcesBefore = before;
  ConfigSetSpare(kNotifyStoreSection, NotifyStoreSpare, NotifyStoreSpareDropped);
}

void ServiceRowsRemove() {
  UrlSetServiceRows(nullptr, 0, nullptr, 0);
  VarParseInstallSources(gSourcesBefore);
  gSourcesBefore = nullptr;
  ConfigSetSpare(kNotifyStoreSection, nullptr);
}
