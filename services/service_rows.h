// The content-type and scheme rows the services serve, handed to the fetch
// layer at start-up (and by the tests' fixtures).
#pragma once
#include <cstdint>

#include "browser/url.h"

extern const UrlContentTypeRow kServiceTypeRows[];
extern const uint32_t kServiceTypeRowCount;
extern const UrlSchemeRow kServiceSchemeRows[];
extern const uint32_t kServiceSchemeRowCount;

void ServiceRowsInstall();
void ServiceRowsRemove();
