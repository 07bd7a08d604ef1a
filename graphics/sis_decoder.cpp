// The decoder's entry points: set-up, probe, palette and frame decoding for
// both formats. Animations run through the stream decoder with a client
// that answers every read at once from the file in memory, bounded by the
// file's length.
#include <cstring>

#include "graphics/saf.h"
#include "graphics/saf_internal.h"
#include "graphics/sis_codec.h"
#include "graphics/sis_internal.h"

SisDecoder gSis;

namespace {

// A job runs at most this many steps; a file cannot need more.
constexpr uint32_t kStepLimit = 1u << 24;

struct Client {
  uint32_t last;
  bool pending, failed;
  SafContinuation continuation;
  uintptr_t context;
  SafFrameEntry entry;
  uintptr_t job;
};

Client c;

void OnEvent(uint32_t event, uintptr_t, const void* data) {
  c.last = event;
  switch (event) {
    case SafEvent::Read: {
      const auto* r = static_cast<const SafReadRequest*>(data);
      if (r->offset > gSis.length || r->count > gSis.length - r->offset) {
        c.failed = true;  // the file ends first
        c.pending = false;
        return;
      }
      if (r->count) std::memcpy(r->buffer, gSis.data + r->offset, r->count);
      c.continuation = r->continuation;
      c.context = r->context;
      c.pending = true;
      return;
    }
    case SafEvent::Yield: {
      const auto* y = static_cast<const SafYield*>(data);
      c.continuation = y->continuation;
      c.context = y->context;
      c.pending = true;
      return;
    }
    case SafEvent::Info: {
      const auto* info = static_cast<const SafInfo*>(data);
      SisImageInfo& out = gSis.info;
      out = {};
      out.frameCount = info->frameCount;
      out.width = info->width;
      out.height = info->height;
      out.perFrameDelays = info->perFrameDelays;
      for (uint32_t i = 0; i < kSisMaxFrames; ++i) out.delays[i] = info->delays[i] / 100;
      out.colours = info->colours;
      out.kind = info->depth;
      out.loop = info->loop == 1;
      gSis.paletteKind = info->paletteKind == 1 || info->paletteKind == 2 ? info->paletteKind : 0;
      std::memcpy(gSis.palette, info->palette, sizeof gSis.palette);
      c.pending = false;
      return;
    }
    case SafEvent::Parsed: {
      const auto* p = static_cast<const SafParsed*>(data);
      c.entry = p->requestFrame;
      c.job = p->job;
      c.pending = false;
      return;
    }
    default:  // error, closed, frame done
      c.pending = false;
      return;
  }
}

// Steps the job until it stops asking; the last event tells how it ended.
void Drive() {
  for (uint32_t n = 0; c.pending && !c.failed && n < kStepLimit; ++n) {
    c.pending = false;
    c.continuation(c.context);
  }
}

void Begin() {
  c.last = ~0u;
  c.pending = c.failed = false;
}

}  // namespace

// Writes the five words of one frame record and asks the job for the frame;
// 1 when it is done, -1 when it failed.
int32_t SafComposeFrame(uint8_t* record, uint32_t index) {
  SisPutWord(record, 0);
  SisPutWord(record + 4, 0);
  SisPutWord(record + 8, gSis.frameWidth);
  SisPutWord(record + 12, gSis.frameHeight);
  SisPutWord(record + 16, gSaf.info.delays[index] / 200);
  if (!c.entry) return -1;
  Begin();
  c.entry(index, record + 20, c.job);
  Drive();
  return c.last == SafEvent::FrameDone && !c.failed ? 1 : -1;
}

int SisDecoderInit(uint8_t* work, uint32_t workSize, uint8_t* model, uint32_t modelSize,
                   uint32_t frameWidth, uint32_t frameHeight) {
  SafForgetClient();
  gSis.work = work;
  gSis.workSize = work ? workSize : 0;
  gSis.model = model;
  gSis.modelSize = model ? modelSize : 0;
  gSis.frameWidth = frameWidth;
  gSis.frameHeight = frameHeight;
  gSis.scratchReady = gSis.jobOpened = 0;
  gSis.parsed = 0;
  gSis.kind = SisKind::None;
  SisSetModelBuffer(model, gSis.modelSize);
  return 1;
}

int SisProbeHeader(const uint8_t* data, uint32_t length, SisImageInfo* info) {
  gSis.maxDepth = 8;
  gSis.parsed = gSis.scratchReady = gSis.jobOpened = 0;
  gSis.paletteReady = 1;
  gSis.kind = SisKind::None;
  gSis.data = data;
  gSis.length = data ? length : 0;
  c.entry = nullptr;
  if (!data || length < 4) return 0;
  if (std::memcmp(data, "SIS", 3) == 0) {
    const uint32_t variant = data[3] >> 3;
    if (variant == 0 || variant == 29 || variant == 30) {
      if (!SisGrayParseHeader(data, length)) return 0;
      if (gSis.info.kind == 8) return 0;
      gSis.kind = SisKind::Gray;
    } else if (variant <= 20) {
      if (!SisMonoParseHeader(data, length)) return 0;
      gSis.kind = SisKind::Mono;
    } else {
      return 0;
    }
  } else if (std::memcmp(data, "SAF", 3) == 0) {
    gSis.kind = SisKind::Saf;
    gSis.paletteKind = 0;
    Begin();
    SafOpenProbe(0, OnEvent);
    Drive();
    if (c.last != SafEvent::Info || c.failed) {
      gSis.kind = SisKind::None;
      return 0;
    }
  } else {
    return 0;
  }
  if (info) *info = gSis.info;
  return 1;
}

const uint8_t* SisGetPalette(uint32_t* kind) {
  if (!gSis.paletteReady) return nullptr;
  if (kind) *kind = gSis.paletteKind;
  return gSis.palette;
}

namespace {

uint32_t FrameBytes() {
  switch (gSis.kind) {
    case SisKind::Mono:
      return gSis.info.width * gSis.info.height / 8;
    case SisKind::Gray:
      return gSis.info.width * gSis.info.height / 4;
    case SisKind::Saf:
      return gSis.frameWidth * gSis.frameHeight;
    default:
      return 0;
  }
}

}  // namespace

uint32_t SisOutputSize(uint32_t frames) {
  return kSisOutputHeader + frames * (4 + 4 * kSisRecordWords + FrameBytes());
}

uint8_t* SisBeginRecord(uint32_t width, uint32_t height, uint32_t delay, uint32_t pixelBytes) {
  const uint32_t need = 4 * kSisRecordWords + pixelBytes;
  if (!gSis.out || gSis.outOffset > gSis.outSize || gSis.outSize - gSis.outOffset < need) return nullptr;
  uint8_t* r = gSis.out + gSis.outOffset;
  SisPutWord(r, 0);
  SisPutWord(r + 4, 0);
  SisPutWord(r + 8, width);
  SisPutWord(r + 12, height);
  SisPutWord(r + 16, delay);
  gSis.outOffset += need;
  return r + 4 * kSisRecordWords;
}

int32_t SisDecodeFrame(const uint8_t* data, uint32_t length, uint8_t* output, uint32_t outputSize,
                       int32_t index, int32_t count) {
  if (!data || !output) return 0;
  if (data != gSis.data || length != gSis.length) {
    // Another image than the one probed: probe it first.
    if (!SisProbeHeader(data, length, nullptr)) return 0;
  }
  if (gSis.kind == SisKind::None) return 0;
  const uint32_t frames = gSis.info.frameCount;
  uint32_t first = 0, n;
  if (count > 0) {
    if (static_cast<uint32_t>(count) > frames) return 0;
    n = static_cast<uint32_t>(count);
  } else if (count == 0 && index >= 0) {
    if (static_cast<uint32_t>(index) >= frames) return 0;
    first = static_cast<uint32_t>(index);
    n = 1;
  } else if (count == 0 && index == -1) {
    n = frames;
  } else {
    return 0;
  }
  if (n == 0) return 0;
  const uint32_t p = FrameBytes(), total = SisOutputSize(n);
  if (outputSize < total) return 0;
  SisPutWord(output, total);
  output[4] = static_cast<uint8_t>(n);
  output[5] = 0;
  output[6] = static_cast<uint8_t>(gSis.kind == SisKind::Mono ? 0 : gSis.kind);
  output[7] = 0;
  const bool saf = gSis.kind == SisKind::Saf;
  SisPutWord(output + 8, saf ? gSis.frameWidth : gSis.info.width);
  SisPutWord(output + 12, saf ? gSis.frameHeight : gSis.info.height);
  const uint32_t records = kSisOutputHeader + 4 * n;
  for (uint32_t i = 0; i < n; ++i) SisPutWord(output + 16 + 4 * i, records + i * (20 + p));
  gSis.headerLength = records;
  gSis.out = output;
  gSis.outSize = outputSize;
  gSis.outOffset = records;
  gSis.scratchReady = 1;

  switch (gSis.kind) {
    case SisKind::Mono:
      for (uint32_t i = 0; i < n; ++i)
        if (!SisMonoDecodeFrames(data, length, static_cast<int32_t>(first + i))) return 0;
      break;
    case SisKind::Gray:
      if (!gSis.parsed) {
        if (!SisGrayParseLayers(data, length)) return 0;
        gSis.parsed = 1;
      }
      for (uint32_t i = 0; i < n; ++i)
        if (!SisGrayDecodeFrames(static_cast<int32_t>(first + i))) return 0;
      break;
    default:
      if (!gSis.parsed) {
        Begin();
        gSis.jobOpened = 1;
        SafOpen(0, OnEvent);
        Drive();
        if (c.last != SafEvent::Parsed || c.failed) return 0;
        gSis.parsed = 1;
      }
      for (uint32_t i = 0; i < n; ++i)
        if (SafComposeFrame(output + records + i * (20 + p), first + i) != 1) return 0;
      break;
  }
  return count > 0 ? count : index == -1 ? static_cast<int32_t>(n) : 1;
}
