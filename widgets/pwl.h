// The widget toolkit (module 42): windows, controls and their task.
#pragma once

#include "kernel/modules.h"

// Brings the toolkit up for the browser phase; 0 on success.
Result PwlInit();
void PwlShutdown();
