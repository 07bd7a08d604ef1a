#include "services/service_rows.h"

#include "services/channels/rep.h"
#include "services/provisioning/prov.h"

const UrlContentTypeRow kServiceTypeRows[] = {
    {ProvProcess, ProvRelease, "provc", UrlType::ConnectivityWbxml, "application",
     "vnd.wap.connectivity-wbxml", 2},
    {RepContentProcess, RepContentRelease, "chanc;chc", kRepChannelType, "application",
     "vnd.wap.channelc;x-wap.channelc", kRepChannelClass},
};
const uint32_t kServiceTypeRowCount = sizeof kServiceTypeRows / sizeof kServiceTypeRows[0];

const UrlSchemeRow kServiceSchemeRows[] = {
    {RepSchemeStep, RepSchemeClose, "rep", nullptr, nullptr, RepSchemeStart, 0},
    {ChanSchemeStep, nullptr, "chan", nullptr, nullptr, ChanSchemeStart, 0},
};
const uint32_t kServiceSchemeRowCount = sizeof kServiceSchemeRows / sizeof kServiceSchemeRows[0];

void ServiceRowsInstall() {
  UrlSetServiceRows(kServiceTypeRows, kServiceTypeRowCount, kServiceSchemeRows,
                    kServiceSchemeRowCount);
}

void ServiceRowsRemove() { UrlSetServiceRows(nullptr, 0, nullptr, 0); }
