// The built-in file store (module QorRom, 36): the read-only tree of pages,
// images, pictograms and certificates packed into the program. A file of the
// same path in the romfiles folder of the working directory comes first.
#pragma once
#include <cstdint>

// The bytes of the file at `path` and their count, or null when there is no
// such file. Give the bytes back with QorRomRelease.
const uint8_t* QorRomOpen(const char* path, uint32_t* size);
void QorRomRelease(const uint8_t* file);
