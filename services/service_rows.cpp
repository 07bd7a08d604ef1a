#include "services/service_rows.h"

#include "services/provisioning/prov.h"

const UrlContentTypeRow kServiceTypeRows[] = {
    {ProvProcess, ProvRelease, "provc", UrlType::ConnectivityWbxml, "application",
     "vnd.wap.connectivity-wbxml", 2},
};
const uint32_t kServiceTypeRowCount = sizeof kServiceTypeRows / sizeof kServiceTypeRows[0];

const UrlSchemeRow kServiceSchemeRows[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
};
const uint32_t kServiceSchemeRowCount = 0;

void ServiceRowsInstall() {
  UrlSetServiceRows(kServiceTypeRows, kServiceTypeRowCount, kServiceSchemeRows,
                    kServiceSchemeRowCount);
}

void ServiceRowsRemove() { UrlSetServiceRows(nullptr, 0, nullptr, 0); }
