#include "services/service_rows.h"

#include "browser/url.h"
#include "services/wtai/wtai.h"

namespace {

const UrlSchemeRow kServiceSchemeRows[] = {
    {WtaiSchemeStep, nullptr, "wtai;dialto;tel;smsto", nullptr, nullptr, WtaiSchemeStart, 0},
};

}  // namespace

void ServiceRowsInstall() {
  UrlSetServiceSchemes(kServiceSchemeRows, sizeof kServiceSchemeRows / sizeof kServiceSchemeRows[0]);
}

void ServiceRowsRemove() { UrlSetServiceSchemes(nullptr, 0); }
