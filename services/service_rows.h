// The services' rows in the fetch layer's tables: the scheme rows of the
// telephony links. They live above the fetch layer, so the start-up task
// hands them down (and the tests' fixtures do).
#pragma once

void ServiceRowsInstall();
void ServiceRowsRemove();
