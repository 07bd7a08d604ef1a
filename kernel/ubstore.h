// Storage classes: the host files that persist the settings sections.
#pragma once
#include <cstdint>

// Index 0-3 of the class with exactly that name, or -1.
int32_t UbstoreClassIndex(const char* name);
// Replaces the byte quota of a known class when bytes >= 0; returns its index.
int32_t UbstoreSetQuota(const char* name, int32_t bytes);
int32_t UbstoreGetQuota(int32_t index);
