// Page animation (module 21): the task that steps the animated images of
// pages. For now an empty task that lives through the browser phase.
#pragma once

#include "kernel/modules.h"

Result AnimEngTaskCreate();
void AnimEngTaskDelete();
