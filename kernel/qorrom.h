// The built-in file store (module QorRom, 36): the read-only tree of pages,
// images, pictograms and certificates packed into the program. A file of the
// same path in the romfiles folder of the working directory comes first.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

// Why a file could not be opened: there is no such file, or it is there but
// memory could not hold it.
constexpr Result kQorRomNotFound = ResultError(Mod::QorRom, Err::NotFound);
constexpr Result kQorRomNoMemory = ResultError(Mod::QorRom, Err::NoMemory);

// The bytes of the file at `path` and their count, or null when there is no
// such file or memory could not hold it; `why` (when given) takes kOk or the
// reason. Give the bytes back with QorRomRelease.
const uint8_t* QorRomOpen(const char* path, uint32_t* size, Result* why = nullptr);
void QorRomRelease(const uint8_t* file);

// The packed tree. A stored entry is a 4-byte header word, read big-endian,
// followed by its stored bytes; bit 30 of the header marks a compressed entry
// (QorRomDecompress), otherwise the bytes are the file as it is.
constexpr uint32_t kQorRomCompressed = 0x40000000;

// One directory; its files run from `first` to the next row's `first` (the
// last row's to the end of the file table).
struct QorRomDir {
  const char* path;  // "/eng/general": no trailing "/"
  uint32_t first;
};

struct QorRomFile {
  const char* name;       // without its directory
  const uint8_t* entry;   // the header word, then the stored bytes
  uint32_t storedSize;    // bytes after the header word
  uint32_t expandedSize;  // the file's size; equals storedSize for a plain entry
};

// Generated from rom/ by the packer at build time. Every entry lies inside
// kQorRomData, which is how a released file is known to be built-in.
extern const QorRomDir kQorRomDirs[];
extern const uint32_t kQorRomDirCount;
extern const QorRomFile kQorRomFiles[];
extern const uint32_t kQorRomFileCount;
extern const uint8_t kQorRomData[];
extern const uint32_t kQorRomDataSize;

// The longest engine path the store takes; a longer one finds nothing.
constexpr uint32_t kQorRomMaxPath = 256;
// Back-references reach into a window of 8192 bytes, so no compressed entry
// expands beyond it.
constexpr uint32_t kQorRomMaxExpanded = 8192;

// The built-in entry at `path` (see QorRomOpen for relative paths) with its
// stored and expanded sizes, or null. No romfiles lookup.
const uint8_t* QorRomFind(const char* path, uint32_t* storedSize, uint32_t* expandedSize);
// The entry of an absolute path: the directory part must equal a directory
// row in full, the name a file of that directory.
const uint8_t* QorRomLookupDir(const char* path, uint32_t* storedSize, uint32_t* expandedSize);
// The file from the romfiles folder (or, for a path holding ":", from the
// host path it names) as a heap-owned image, or null; `why` as QorRomOpen's.
const uint8_t* QorRomReadHostFile(const char* path, uint32_t* size, Result* why = nullptr);
// Expands a compressed entry's stored bytes into a heap-owned image of
// `expandedSize` bytes; *size takes the stored size and gives the expanded
// one. Null when the decoder fails or memory runs out.
const uint8_t* QorRomInflate(const uint8_t* stored, uint32_t* size, uint32_t expandedSize);
// The host form of an engine path: leading "/" dropped. Host paths keep "/"
// as their separator. `out` holds at least kQorRomMaxPath bytes; false when
// the path does not fit.
bool QorRomHostPath(char* out, const char* path);

// The decompressor. Its input may come as a chain of blocks, read one after
// the other as one byte string.
struct QorRomInBlock {
  const QorRomInBlock* next;
  const uint8_t* data;  // the block's bytes
  uint32_t length;      // input bytes from `offset` on
  uint32_t offset;      // where the input starts within data
};

// Decodes the chain into output; *capacity gives the room and takes the
// bytes produced. 1 on success; 0 on a distance of 0 or beyond the bytes
// written, input that ends before a code does, or output past the room.
int QorRomDecodeStream(const QorRomInBlock* input, uint8_t* output, uint32_t* capacity);
// One entry: the output goes behind the image's first word (the caller's
// header word). 1 only when exactly *capacity bytes came out; *capacity takes
// the bytes produced either way.
int QorRomDecompress(const uint8_t* input, uint32_t length, uint8_t* image, uint32_t* capacity);
