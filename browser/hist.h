// The history files of the working folder: "hist.dat" holds the history
// block byte for byte; "IntHist.dat" the back stack, little-endian:
//
//   u32 first word, u32 last word, then for each of the 16 slots:
//   u32 value1, u32 value2, u16 value3,
//   u32 n + n bytes  first text (n = its length + 1 with the NUL, 0: none),
//   u32 n + n bytes  second text (the same),
//   u32 n + n bytes  item (n = 20, or 0: none).
//
// Both are replaced atomically, so a file is either the old one or the new
// one whole. A back-stack file that ends before its last slot's item loads
// as an empty stack; bytes after it are not read.
#pragma once
#include <cstdint>

#include "browser/ben_hist.h"

constexpr const char* kHistFile = "hist.dat";
constexpr const char* kIntHistFile = "IntHist.dat";

// Reads the first `length` bytes of "hist.dat" into the buffer: 1, or 0 when
// the file is missing, shorter, or memory is short (the buffer is then left
// as it was).
int HistLoad(void* buffer, uint32_t length);
// Replaces "hist.dat" with the bytes: 1, or 0 on failure.
int HistSave(const void* data, uint32_t length);

// Replaces "IntHist.dat" with the stack: 1, or 0 when it could not be
// written (the old file then stays as it was).
int IntHistSave(const BenBackStack* stack);
// Clears the stack (it must be zeroed or hold texts of its own), then reads
// "IntHist.dat" into it: 0 when the file cannot be read, else 1 (also when
// the file ended early or memory ran short, and the stack was left empty).
int IntHistLoad(BenBackStack* stack);
// Whether HistLoad, or an IntHistLoad since, found its file but had no memory
// to read it whole (the file is then said, PlatformFileNotRead): what the
// caller holds is not the file's, and a save of it would put an empty
// history over the one kept.
bool HistLoadShortOfMemory();

// The file's bytes for the stack, and their count: for the saving and for
// the tests. Every text is written whole.
uint32_t IntHistEncodedSize(const BenBackStack* stack);
void IntHistEncode(const BenBackStack* stack, uint8_t* out);
// Reads the file's bytes into the cleared stack: true when they hold all 16
// slots (texts as stored, a NUL inside or none at the end included, and one
// NUL added after each); otherwise false with the stack empty and nothing
// left allocated; `noMemory` (when given) then tells whether memory, not the
// bytes, fell short.
bool IntHistDecode(BenBackStack* stack, const uint8_t* data, uint32_t size,
                   bool* noMemory = nullptr);
