// The content-type and scheme rows the services serve, handed to the fetch
// layer at start-up (and by the tests' fixtures).
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "markup/varparse.h"

extern const UrlContentTypeRow kServiceTypeRows[];
extern const uint32_t kServiceTypeRowCount;
extern const UrlSchemeRow kServiceSchemeRows[];
extern const uint32_t kServiceSchemeRowCount;
// The template engine's default variable sources while the services are
// installed.
extern const VarParseSource kServiceSources[];

void ServiceRowsInstall();
void ServiceRowsRemove();
