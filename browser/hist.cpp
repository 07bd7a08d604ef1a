#include "browser/hist.h"

#include "host/platform/files.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {

void PutU32(uint8_t*& p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
  p += 4;
}

void PutU16(uint8_t*& p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p += 2;
}

// The stored length of a text: all of its bytes, plus the NUL.
uint32_t TextBytes(const char* text) { return text ? LibcStrLen(text) + 1 : 0; }

void PutText(uint8_t*& p, const char* text) {
  uint32_t n = TextBytes(text);
  PutU32(p, n);
  if (n == 0) return;
  LibcMemCopy(p, text, n - 1);
  p[n - 1] = 0;
  p += n;
}

struct Reader {
  const uint8_t* p;
  uint32_t left;
  bool noMemory;  // a text or item had no memory: the bytes were not at fault
};

bool GetU32(Reader& r, uint32_t* v) {
  if (r.left < 4) return false;
  *v = r.p[0] | r.p[1] << 8 | r.p[2] << 16 | static_cast<uint32_t>(r.p[3]) << 24;
  r.p += 4;
  r.left -= 4;
  return true;
}

bool GetU16(Reader& r, uint16_t* v) {
  if (r.left < 2) return false;
  *v = static_cast<uint16_t>(r.p[0] | r.p[1] << 8);
  r.p += 2;
  r.left -= 2;
  return true;
}

// The text's bytes as stored, whatever they hold (a NUL inside, none at the
// end); one NUL more is kept after them so that the slot's text always ends
// inside its allocation.
bool GetText(Reader& r, char** out) {
  uint32_t n;
  if (!GetU32(r, &n)) return false;
  if (n == 0) return true;
  if (n > r.left || n == UINT32_MAX) return false;
  *out = static_cast<char*>(MemAlloc(n + 1, Use::String, Mod::Ben));
  if (!*out) {
    r.noMemory = true;
    return false;
  }
  LibcMemCopy(*out, r.p, n);
  (*out)[n] = 0;
  r.p += n;
  r.left -= n;
  return true;
}

// The item's stored bytes. The slot's item is always kBenBackItemSize bytes
// long: a shorter stored one is padded with zeros, a longer one keeps its
// first bytes (all of them are read).
bool GetItem(Reader& r, uint8_t** out) {
  uint32_t n;
  if (!GetU32(r, &n)) return false;
  if (n == 0) return true;
  if (n > r.left) return false;
  const uint32_t kept = n < kBenBackItemSize ? n : kBenBackItemSize;
  *out = static_cast<uint8_t*>(MemAllocZero(kBenBackItemSize, Use::String, Mod::Ben));
  if (!*out) {
    r.noMemory = true;
    return false;
  }
  LibcMemCopy(*out, r.p, kept);
  r.p += n;
  r.left -= n;
  return true;
}

bool gShortOfMemory;  // a load since HistLoad found its file and no memory to read it

// A kept file memory could not read: it is left as it is, and said.
void NotRead(const char* file) {
  gShortOfMemory = true;
  PlatformFileNotRead(file);
}

}  // namespace

bool HistLoadShortOfMemory() { return gShortOfMemory; }

int HistLoad(void* buffer, uint32_t length) {
  gShortOfMemory = false;
  uint32_t size = 0;
  // A longer file gives its first bytes; only a missing or short one fails.
  if (PlatformFileSize(kHistFile, &size) != FileStatus::Ok || size < length || length == 0)
    return 0;
  // Read aside first, so that a failed read leaves the caller's block whole.
  auto* scratch = static_cast<uint8_t*>(MemAlloc(length, Use::Data, Mod::Ben));
  if (!scratch) {
    NotRead(kHistFile);
    return 0;
  }
  int ok = PlatformFileRead(kHistFile, scratch, length) == FileStatus::Ok;
  if (ok) LibcMemCopy(buffer, scratch, length);
  MemFree(&scratch);
  return ok;
}

int HistSave(const void* data, uint32_t length) {
  return PlatformFileReplace(kHistFile, data, length) == FileStatus::Ok;
}

uint32_t IntHistEncodedSize(const BenBackStack* stack) {
  uint32_t size = 8;
  for (const BenBackSlot& slot : stack->slots)
    size += 4 + 4 + 2 + 12 + TextBytes(slot.text1) + TextBytes(slot.text2) +
            (slot.item ? kBenBackItemSize : 0);
  return size;
}

void IntHistEncode(const BenBackStack* stack, uint8_t* out) {
  uint8_t* p = out;
  PutU32(p, stack->first);
  PutU32(p, stack->last);
  for (const BenBackSlot& slot : stack->slots) {
    PutU32(p, slot.value1);
    PutU32(p, slot.value2);
    PutU16(p, slot.value3);
    PutText(p, slot.text1);
    PutText(p, slot.text2);
    PutU32(p, slot.item ? kBenBackItemSize : 0);
    if (slot.item) {
      LibcMemCopy(p, slot.item, kBenBackItemSize);
      p += kBenBackItemSize;
    }
  }
}

bool IntHistDecode(BenBackStack* stack, const uint8_t* data, uint32_t size, bool* noMemory) {
  Reader r{data, size, false};
  bool ok = GetU32(r, &stack->first) && GetU32(r, &stack->last);
  for (int i = 0; ok && i < kBenBackSlots; ++i) {
    BenBackSlot& slot = stack->slots[i];
    ok = GetU32(r, &slot.value1) && GetU32(r, &slot.value2) && GetU16(r, &slot.value3) &&
         GetText(r, &slot.text1) && GetText(r, &slot.text2) && GetItem(r, &slot.item);
  }
  // Bytes after the last slot are not the stack's: they are left unread.
  if (ok) return true;
  BenBackStackClear(stack);
  if (noMemory) *noMemory = r.noMemory;
  return false;
}

int IntHistSave(const BenBackStack* stack) {
  uint32_t size = IntHistEncodedSize(stack);
  auto* bytes = static_cast<uint8_t*>(MemAlloc(size, Use::Data, Mod::Ben));
  if (!bytes) return 0;
  IntHistEncode(stack, bytes);
  int ok = PlatformFileReplace(kIntHistFile, bytes, size) == FileStatus::Ok;
  MemFree(&bytes);
  return ok;
}

int IntHistLoad(BenBackStack* stack) {
  BenBackStackClear(stack);
  uint32_t size = 0;
  if (PlatformFileSize(kIntHistFile, &size) != FileStatus::Ok) return 0;
  // Every read below stays inside these bytes; a file too large for memory
  // leaves the stack empty.
  auto* bytes = static_cast<uint8_t*>(MemAlloc(size ? size : 1, Use::Data, Mod::Ben));
  if (!bytes) {
    NotRead(kIntHistFile);
    return 1;
  }
  if (PlatformFileRead(kIntHistFile, bytes, size) != FileStatus::Ok) {
    MemFree(&bytes);
    return 0;
  }
  bool noMemory = false;
  IntHistDecode(stack, bytes, size, &noMemory);
  MemFree(&bytes);
  if (noMemory) NotRead(kIntHistFile);
  return 1;
}
