// The stream decoder's state machine. Every read goes to the client as a
// request and the job waits for its continuation; large objects and frame
// commands yield between steps.
#include <cstring>

#include "graphics/saf_internal.h"
#include "graphics/sis_internal.h"

SafJob gSaf;

namespace {

enum State : uint32_t {
  kStart = 0, kWait = 1, kFileHeader = 2, kBlockHead = 3, kDispatch = 4, kInfoLength = 5,
  kInfoRecords = 6, kObjectHead = 7, kObjectLength = 8, kAdaptive = 12, kInflate = 13,
  kNextBlock = 15, kFrameSetup = 16, kFrameCommand = 17, kSkip = 18, kPreset = 19, kEnd = 21,
  kParked = 22,  // parsed or a frame done: waits for a frame request
};

constexpr uint32_t kInflatePiece = 1024;

void Send(uint32_t event, const void* data) {
  if (gSaf.client) gSaf.client(event, gSaf.user, data);
}

// Returns false: the step ends.
bool Fail() {
  const SafClient client = gSaf.client;
  const uintptr_t user = gSaf.user;
  gSaf.state = kStart;
  gSaf.active = gSaf.live = 0;
  gSaf.client = nullptr;
  if (client) client(SafEvent::Error, user, nullptr);
  return false;
}

// Asks for `count` bytes at the file offset into the block buffer.
void Request(uint32_t count, uint32_t next) {
  gSaf.request = {gSaf.block, gSaf.offset, count, SafStep, gSaf.id};
  gSaf.lastCount = count;
  gSaf.offset += count;
  gSaf.after = next;
  gSaf.state = kWait;
}

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

bool InfoRecords(uint32_t n) {
  const uint8_t* r = gSaf.block;
  SafInfo& info = gSaf.info;
  uint32_t pos = 0;
  while (pos < n) {
    if (pos + 2 > n) return false;
    const uint8_t* rec = r + pos;
    const uint32_t tag = rec[0], len = rec[1];
    if (pos + 2 + len > n) return false;
    uint32_t used = len + 2;
    switch (tag) {
      case 1:
        if (len < 6) return false;
        info.width = rec[2];
        info.height = rec[3];
        info.depth = rec[4];
        gSaf.header5 = rec[5];
        gSaf.header6 = rec[6];
        info.loop = rec[7];
        gSaf.sizeHint = len >= 10 ? static_cast<uint32_t>(rec[8] << 24 | rec[9] << 16 | rec[10] << 8 | rec[11])
                                  : 65536;
        gSaf.headerSeen = 1;
        break;
      case 2: {
        if (len < 2) return false;
        gSaf.paletteCount = rec[2];
        const uint32_t kind = rec[3] >> 5 & 3;
        gSaf.paletteKind = kind;
        if (kind == 1 || kind == 3) {
          if (pos + len + 4 > n) return false;
          const uint32_t bytes = SisU16(rec + 2 + len);
          if (pos + len + 4 + bytes > n || bytes > 768) return false;
          if (kind == 1) std::memcpy(gSaf.palette, rec + 4 + len, bytes);
          used = len + 4 + bytes;
        } else if (kind == 2) {
          for (uint32_t i = 0; i < 256; ++i) std::memset(gSaf.palette + 3 * i, static_cast<int>(i), 3);
        }
        break;
      }
      case 3:
        if (len < 3 || rec[2] > kSafMaxFrames) return false;
        info.frameCount = rec[2];
        info.colours = rec[3];
        gSaf.animation4 = rec[4];
        gSaf.animationSeen = 1;
        break;
      case 9:
        if (len < 1) return false;
        if (gSaf.headerSeen && info.depth <= kSafMaxDepth) {
          const uint32_t count = rec[2];
          if (count > 24 || len < 1 + 2 * count) return false;
          for (uint32_t i = 0; i < count; ++i) info.colourTable[i] = static_cast<uint16_t>(SisU16(rec + 3 + 2 * i));
          info.colourTableCount = count;
        }
        break;
      case 10: {
        if (len < 2) return false;
        const uint32_t d = SisU16(rec + 2);
        if (d) {
          for (uint32_t& v : info.delays) v = d;
          info.perFrameDelays = 0;
        } else {
          if (!gSaf.animationSeen || len < 2 + 2 * info.frameCount) return false;
          for (uint32_t i = 0; i < info.frameCount; ++i) info.delays[i] = SisU16(rec + 4 + 2 * i);
          info.perFrameDelays = 1;
        }
        break;
      }
      default:
        break;
    }
    pos += used;
  }
  if (info.depth > gSis.maxDepth) return false;
  info.paletteKind = gSaf.paletteKind;
  info.paletteSize = gSaf.paletteKind == 1 ? 256 : 0;
  info.palette = gSaf.palette;
  return true;
}

void Commit() {
  SafObject& o = gSaf.objects[gSaf.objectIndex];
  o.size = o.width * o.height * gSaf.info.depth / 8;
  gSis.used += o.size;
}

// One state; false when the step ends.
bool Run() {
  switch (gSaf.state) {
    case kStart:
      gSaf.offset = 0;
      gSis.used = 0;
      gSaf.frameSlots = 0;
      Request(7, kFileHeader);
      return true;
    case kWait:
      Send(SafEvent::Read, &gSaf.request);
      gSaf.state = gSaf.after;
      return false;
    case kFileHeader:
      if (std::memcmp(gSaf.block, "SAF", 4) != 0 || (gSaf.block[4] != 1 && gSaf.block[4] != 2))
        return Fail();
      gSaf.totalLength = SisU16(gSaf.block + 5);
      gSaf.state = kBlockHead;
      return true;
    case kBlockHead:
      Request(3, kDispatch);
      return true;
    case kDispatch: {
      gSaf.tag = gSaf.block[0];
      gSaf.bodyLength = SisU16(gSaf.block + 1);
      gSaf.tagPosition = gSaf.offset - 3;
      const uint32_t b = gSaf.bodyLength;
      switch (gSaf.tag) {
        case 7:
          // Objects are decoded at the depth the info gave; info that came
          // after them could change it under them. A second info block,
          // wherever it comes, would draw a file other than the one the probe
          // (which stops at the first) reported: size, frames, delays, loop.
          if (gSaf.objectSeen || gSaf.infoSeen) return Fail();
          if (b < 2 || b > kSafBlockBytes) return Fail();
          Request(b, kInfoLength);
          return true;
        case 4:
          if (b < 7 || b > kSafBlockBytes) return Fail();
          Request(b, kObjectHead);
          return true;
        case 6:
          if (b + 3 > kSafBlockBytes) return Fail();
          if (gSaf.frameSlots < kSafMaxFrames) gSaf.frames[gSaf.frameSlots++] = {gSaf.tagPosition, b + 3};
          Request(b, kNextBlock);
          return true;
        case 8:
          gSaf.state = kEnd;
          return true;
        case 11:
          if (b > kSafBlockBytes) return Fail();
          Request(b, kPreset);
          return true;
        default:
          if (gSaf.offset >= gSaf.totalLength) return Fail();
          if (b <= kSafBlockBytes) {
            Request(b, kBlockHead);
          } else {
            gSaf.skip = b;
            gSaf.state = kSkip;
          }
          return true;
      }
    }
    case kInfoLength: {
      const uint32_t n = SisU16(gSaf.block);
      if (n > kSafBlockBytes) return Fail();
      Request(n, kInfoRecords);
      return true;
    }
    case kInfoRecords:
      if (!InfoRecords(gSaf.lastCount)) return Fail();
      gSaf.infoSeen = 1;
      Send(SafEvent::Info, &gSaf.info);
      if (gSaf.probe) {
        gSaf.state = kStart;
        gSaf.active = gSaf.live = gSaf.probe = 0;
        gSaf.client = nullptr;
        return false;
      }
      gSaf.state = kBlockHead;
      return true;
    case kObjectHead: {
      const uint8_t* h = gSaf.block;
      const uint32_t index = h[0] & 0x7F;
      const uint32_t w = h[1], ht = h[2];
      if (!w || !ht) return Fail();
      if (gSis.used + w * ht * gSaf.info.depth / 8 > gSis.workSize) return Fail();
      SafObject& o = gSaf.objects[index];
      o = {};
      o.width = w;
      o.height = ht;
      o.index = index;
      o.coder = h[3];
      o.key = h[4];
      o.size = SisU16(h + 5);
      o.flag = h[0] >> 7;
      o.dataPosition = gSaf.offset;
      gSaf.objectIndex = index;
      gSaf.objectSeen = 1;
      Request(2, kObjectLength);
      return true;
    }
    case kObjectLength: {
      SafObject& o = gSaf.objects[gSaf.objectIndex];
      gSaf.dataLength = SisU16(gSaf.block);
      gSaf.dataStart = gSaf.offset;
      o.pixels = gSis.work + gSis.used;
      const uint32_t room = o.width * o.height * gSaf.info.depth / 8;
      switch (o.coder) {
        case 0:
          SisDecodeAdaptiveReset();
          gSaf.state = kAdaptive;
          return true;
        case 1:
          gSaf.inflate = {};
          gSaf.inflate.output = o.pixels;
          gSaf.inflate.room = room;
          gSaf.inflate.mode = 0;
          if (gSaf.dataLength == 0) return Fail();
          Request(Min(gSaf.dataLength, kInflatePiece), kInflate);
          return true;
        case 16:
          return Fail();
        default:  // not decoded: passed over, taking no room, never placed
          o.pixels = nullptr;
          gSaf.offset += gSaf.dataLength;
          gSaf.state = kBlockHead;
          return true;
      }
    }
    case kAdaptive: {
      SafObject& o = gSaf.objects[gSaf.objectIndex];
      uint32_t written = 0;
      const uint32_t room = o.width * o.height * gSaf.info.depth / 8;
      SisDecodeAdaptive(gSaf.block, gSaf.lastCount, o.pixels, room, &written, &gSaf.adaptive);
      switch (gSaf.adaptive.status) {
        case SisAdaptive::Done:
          Commit();
          gSaf.offset = gSaf.dataStart + gSaf.dataLength;
          gSaf.state = kBlockHead;
          return true;
        case SisAdaptive::Window: {
          const uint32_t at = gSaf.adaptive.offset;
          if (at >= gSaf.dataLength) return Fail();
          gSaf.offset = gSaf.dataStart + at;
          Request(Min(Min(gSaf.adaptive.size, kSafBlockBytes), gSaf.dataLength - at), kAdaptive);
          return true;
        }
        case SisAdaptive::Again:
          gSaf.yield = {SafStep, gSaf.id};
          Send(SafEvent::Yield, &gSaf.yield);
          return false;
        default:
          return Fail();
      }
    }
    case kInflate: {
      gSaf.inflate.input = gSaf.block;
      gSaf.inflate.inputLength = gSaf.lastCount;
      const int32_t r = SisInflateStep(&gSaf.inflate);
      if (r == SisInflate::End) {
        Commit();
        // A stream that ends early: the next block follows its recorded length.
        gSaf.offset = gSaf.dataStart + gSaf.dataLength;
        gSaf.state = kBlockHead;
        return true;
      }
      if (r != SisInflate::More) return Fail();
      gSaf.inflate.mode = 1;
      const uint32_t end = gSaf.dataStart + gSaf.dataLength;
      if (gSaf.offset >= end) return Fail();
      Request(Min(kInflatePiece, end - gSaf.offset), kInflate);
      return true;
    }
    case kNextBlock:
      gSaf.state = kBlockHead;
      return true;
    case kFrameSetup:
      if (SafBeginFrame(gSaf.block, gSaf.frameDestination) < 0) return Fail();
      gSaf.state = kFrameCommand;
      return true;
    case kFrameCommand: {
      const int32_t r = SafRenderStep();
      if (r < 0) return Fail();
      if (r == 0) {
        gSaf.state = kParked;
        const SafFrameDone done = {gSis.frameWidth * gSis.frameHeight, gSaf.frameDestination,
                                   gSaf.info.delays[gSaf.frameIndex],
                                   gSaf.frameIndex + 1 == gSaf.info.frameCount ? 1u : 0u};
        Send(SafEvent::FrameDone, &done);
        return false;
      }
      gSaf.yield = {SafStep, gSaf.id};
      Send(SafEvent::Yield, &gSaf.yield);
      return false;
    }
    case kSkip:
      if (gSaf.skip <= kSafBlockBytes) {
        Request(gSaf.skip, kBlockHead);
      } else {
        gSaf.skip -= kSafBlockBytes;
        Request(kSafBlockBytes, kSkip);
      }
      return true;
    case kPreset:
      if (SisInflateAll(gSaf.block, static_cast<uint16_t>(gSaf.lastCount)) != 0) return Fail();
      gSaf.state = kBlockHead;
      return true;
    case kEnd: {
      gSaf.state = kParked;
      gSaf.active = 0;
      const SafParsed parsed = {SafRequestFrame, gSaf.id};
      Send(SafEvent::Parsed, &parsed);
      return false;
    }
    default:  // parked
      return false;
  }
}

void Open(uintptr_t user, SafClient client, uint32_t probe) {
  if (gSaf.active && gSaf.client) gSaf.client(SafEvent::Closed, gSaf.user, nullptr);
  const uintptr_t id = gSaf.id + 4;
  // Nothing of the file before carries over: palette, tables, objects, frames.
  std::memset(&gSaf, 0, sizeof gSaf);
  SisInflateResetTables();
  gSaf.id = id;
  gSaf.active = gSaf.live = 1;
  gSaf.probe = probe;
  gSaf.client = client;
  gSaf.user = user;
  gSaf.state = kStart;
  SafStep(id);
}

}  // namespace

void SafOpen(uintptr_t user, SafClient client) { Open(user, client, 0); }
void SafOpenProbe(uintptr_t user, SafClient client) { Open(user, client, 1); }

void SafStep(uintptr_t job) {
  if (job != gSaf.id || !gSaf.live) return;
  while (Run()) {
  }
}

void SafRequestFrame(uint32_t index, uint8_t* destination, uintptr_t job) {
  if (job != gSaf.id || !gSaf.live || gSaf.state != kParked) return;
  const uint32_t w = gSis.frameWidth, h = gSis.frameHeight, depth = gSaf.info.depth;
  const uint32_t free = gSis.workSize - gSis.used;
  gSaf.pixelPlane = gSaf.maskPlane = nullptr;
  gSaf.planeBytes = 0;
  if (depth == 1 || depth == 2 || depth == 4) {
    const uint32_t plane = depth == 1 ? w * h / 8 : w * h / 4;
    const uint32_t start = (gSis.used + 3) & ~3u, rounded = (plane + 3) & ~3u;
    if (free < 2 * plane + 8 || start + 2 * rounded > gSis.workSize) {
      Fail();
      return;
    }
    gSaf.pixelPlane = gSis.work + start;
    gSaf.maskPlane = gSaf.pixelPlane + rounded;
    gSaf.planeBytes = plane;
  }
  if (index >= gSaf.info.frameCount || index >= gSaf.frameSlots || !destination) {
    Fail();
    return;
  }
  gSaf.frameDestination = destination;
  gSaf.frameIndex = index;
  gSaf.offset = gSaf.frames[index].position;
  Request(gSaf.frames[index].length, kFrameSetup);
  SafStep(job);
}

const SafObject* SafObjects() { return gSaf.objects; }
uint32_t SafDepth() { return gSaf.info.depth; }
uint32_t SafFrameCount() { return gSaf.info.frameCount; }
void SafForgetClient() { gSaf.client = nullptr; }
