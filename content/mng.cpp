#include "content/mng.h"

#include <cstdio>  // libmng's headers use FILE without including it
#include <libmng.h>

#include <cstddef>
#include <cstring>

#include "kernel/mem.h"

struct MngDecoder {
  ContentBody body;
  uint32_t readAt;  // the memory stream's read position in the body
  uint8_t* canvas;  // the work buffer
  uint32_t canvasSize;
  mng_handle mng;
  uint32_t expected;  // frames the header announces, 0 when it does not
  uint32_t ticks;     // per second
  uint32_t rowBytes;  // canvas bytes a row, 4 a pixel
  uint32_t loops;     // plays the file asks for, 0 for ever
  ContentImage* image;
  ContentImageFrame* last;
  bool error;
  bool noMemory;  // a record of the glue could not be had
  bool done;
  bool ended;         // the end of the stream has been read
  uint32_t afterEnd;  // refreshes drawn since then
  ContentFeed* feed;  // of the process call that plays the body
};

namespace {

constexpr uint32_t kMinDelay = 100;  // milliseconds

MngDecoder* Of(mng_handle mng) { return static_cast<MngDecoder*>(mng_get_userdata(mng)); }

// Every block the library takes, linked so that what it leaves behind can
// be freed: libmng does not give back all it took when a stream ends inside
// a loop. The library runs only within one process call, one body at a time.
struct LibBlock {
  LibBlock* prev;
  LibBlock* next;
};
LibBlock gLibBlocks{&gLibBlocks, &gLibBlocks};

mng_ptr OnAlloc(mng_size_t size) {
  if (size > UINT32_MAX - sizeof(LibBlock)) return nullptr;
  auto* block = static_cast<LibBlock*>(
      MemAllocZero(static_cast<uint32_t>(sizeof(LibBlock) + size), Use::Data, Mod::MngGlue));
  if (!block) return nullptr;
  block->prev = gLibBlocks.prev;
  block->next = &gLibBlocks;
  gLibBlocks.prev->next = block;
  gLibBlocks.prev = block;
  return block + 1;
}

void OnFree(mng_ptr p, mng_size_t) {
  if (!p) return;
  LibBlock* block = static_cast<LibBlock*>(p) - 1;
  block->prev->next = block->next;
  block->next->prev = block->prev;
  MemFreeRaw(block);
}

void FreeLibBlocks() {
  while (gLibBlocks.next != &gLibBlocks) OnFree(gLibBlocks.next + 1, 0);
}

mng_bool OnError(mng_handle mng, mng_int32 code, mng_int8, mng_chunkid, mng_uint32, mng_int32,
                 mng_int32, mng_pchar) {
  MngDecoder* d = Of(mng);
  d->error = true;
  if (code == MNG_OUTOFMEMORY) d->noMemory = true;
  return MNG_FALSE;
}

mng_bool OnStream(mng_handle) { return MNG_TRUE; }

mng_bool OnRead(mng_handle mng, mng_ptr out, mng_uint32 wanted, mng_uint32p got) {
  MngDecoder* d = Of(mng);
  uint32_t n = d->body.size - d->readAt;
  if (n > wanted) n = wanted;
  if (n) memcpy(out, d->body.bytes + d->readAt, n);
  d->readAt += n;
  *got = n;
  return n ? MNG_TRUE : MNG_FALSE;
}

// The clock stands still: every wait the library asks for is over at once,
// so one call plays the whole animation, and each wait is the delay of the
// frame on show.
mng_uint32 OnTicks(mng_handle) { return 999999; }

mng_bool OnTimer(mng_handle mng, mng_uint32 ms) {
  MngDecoder* d = Of(mng);
  // After the last frame the library asks for a token wait before it loops
  // or stops; the frame keeps the longest wait it was given.
  if (d->last && ms > d->last->delay) d->last->delay = ms;
  return MNG_TRUE;
}

mng_bool OnHeader(mng_handle mng, mng_uint32 width, mng_uint32 height) {
  MngDecoder* d = Of(mng);
  if (d->image || !width || !height || width > 0xFFFF || height > 0xFFFF ||
      uint64_t{4} * width * height > d->canvasSize)
    return MNG_FALSE;
  d->rowBytes = 4 * width;
  // Nothing of an earlier user of the work buffer may show through.
  memset(d->canvas, 0, size_t{d->rowBytes} * height);
  d->expected = mng_get_framecount(mng);
  d->ticks = mng_get_ticks(mng);
  if (mng_set_canvasstyle(mng, MNG_CANVAS_RGBA8) != MNG_NOERROR) return MNG_FALSE;
  d->image =
      static_cast<ContentImage*>(MemAllocZero(sizeof(ContentImage), Use::Data, Mod::MngGlue));
  if (!d->image) {
    d->noMemory = true;
    return MNG_FALSE;
  }
  d->image->kind = ContentKind::Animation;
  d->image->width = static_cast<uint16_t>(width);
  d->image->height = static_cast<uint16_t>(height);
  d->image->transparent = 1;
  return MNG_TRUE;
}

mng_ptr OnCanvasLine(mng_handle mng, mng_uint32 line) {
  MngDecoder* d = Of(mng);
  return d->canvas + size_t{line} * d->rowBytes;
}

mng_bool OnTerm(mng_handle mng, mng_uint8 action, mng_uint8, mng_uint32, mng_uint32 iterations) {
  // Action 3 repeats the frames after the TERM chunk; 0x7FFFFFFF is for ever.
  if (action == 3)
    Of(mng)->loops = iterations >= 0x7FFFFFFF ? 0 : iterations > 0xFFFF ? 0xFFFF : iterations;
  return MNG_TRUE;
}

mng_bool OnEnd(mng_handle mng, mng_uint32, mng_uint32) {
  Of(mng)->ended = true;
  return MNG_TRUE;
}

// A frame of the canvas rectangle, its pixels in bands carrying the key
// colour. False when memory runs out.
bool AddFrame(MngDecoder* d, ContentFeed* feed, uint32_t left, uint32_t top, uint32_t w,
              uint32_t h) {
  const uint32_t perBand = ContentRowsPerBand(w);
  const uint32_t total = ContentBandTotal(w, h);
  auto* frame = static_cast<ContentImageFrame*>(MemAllocZero(
      static_cast<uint32_t>(offsetof(ContentImageFrame, bands) + total * sizeof(PglSurface*)),
      Use::Data, Mod::MngGlue));
  if (!frame) return false;
  frame->width = static_cast<uint16_t>(w);
  frame->height = static_cast<uint16_t>(h);
  frame->left = static_cast<uint16_t>(left);
  frame->top = static_cast<uint16_t>(top);
  // Until the library asks for its wait, one tick of the file's clock.
  frame->delay = d->ticks ? 1000 / d->ticks : 0;
  if (frame->delay < kMinDelay) frame->delay = kMinDelay;
  if (d->last)
    d->last->next = frame;
  else
    d->image->firstFrame = frame;
  d->last = frame;
  ++d->image->frameCount;
  uint32_t y = 0;
  for (uint32_t b = 0; b < total; ++b) {
    const uint32_t rows = h - y < perBand ? h - y : perBand;
    PglSurface* band = ContentBandNew(w, rows, w, true, Mod::MngGlue);
    if (!band) return false;
    auto* out = reinterpret_cast<uint16_t*>(PglPixels(band));
    for (uint32_t r = 0; r < rows; ++r, ++y) {
      const uint8_t* in = d->canvas + size_t{top + y} * d->rowBytes + size_t{left} * 4;
      for (uint32_t x = 0; x < w; ++x, in += 4)
        *out++ =
            in[3] == 0 ? kContentKeyColour : ContentOpaqueOnKey(ContentRgb565(in[0], in[1], in[2]));
    }
    frame->bands[b] = band;
    frame->bandCount = static_cast<uint16_t>(b + 1);
    feed->events |= ContentEvent::Data;
  }
  frame->complete = 1;
  return true;
}

mng_bool OnRefresh(mng_handle mng, mng_uint32 left, mng_uint32 top, mng_uint32 w, mng_uint32 h) {
  MngDecoder* d = Of(mng);
  if (d->done || !d->image) return MNG_TRUE;
  // The frame after the end of the stream is the last of the first pass
  // (the library draws a frame when the next one begins); anything later
  // is the loop starting over.
  if (d->ended && d->afterEnd++ >= 1) {
    d->done = true;
    return MNG_TRUE;
  }
  if (!w || !h || uint64_t{left} + w > d->image->width || uint64_t{top} + h > d->image->height)
    return MNG_TRUE;
  if (!AddFrame(d, d->feed, left, top, w, h)) {
    d->noMemory = true;
    d->done = true;
    return MNG_FALSE;
  }
  if ((d->expected && d->image->frameCount >= d->expected) || d->image->frameCount == 0xFFFF)
    d->done = true;
  return MNG_TRUE;
}

void Free(MngDecoder** state) {
  MngDecoder* d = *state;
  if (!d) return;
  if (d->mng) {
    mng_cleanup(&d->mng);
    FreeLibBlocks();
  }
  ContentBodyFree(&d->body);
  MemFree(state);
}

Result Play(MngDecoder* d, ContentFeed* feed) {
  if (!d->canvas) return MngErr::NoMemory;
  d->mng = mng_initialize(d, OnAlloc, OnFree, MNG_NULL);
  if (!d->mng) return MngErr::NoMemory;
  mng_handle mng = d->mng;
  if (mng_set_storechunks(mng, MNG_FALSE) || mng_setcb_errorproc(mng, OnError) ||
      mng_setcb_openstream(mng, OnStream) || mng_setcb_closestream(mng, OnStream) ||
      mng_setcb_readdata(mng, OnRead) || mng_setcb_gettickcount(mng, OnTicks) ||
      mng_setcb_settimer(mng, OnTimer) || mng_setcb_processheader(mng, OnHeader) ||
      mng_setcb_getcanvasline(mng, OnCanvasLine) || mng_setcb_refresh(mng, OnRefresh) ||
      mng_setcb_processterm(mng, OnTerm) || mng_setcb_processmend(mng, OnEnd))
    return MngErr::NoMemory;
  d->loops = 1;
  d->feed = feed;
  mng_retcode r = mng_readdisplay(mng);
  // Each wait is over at once; the library goes on until the display ends,
  // the first pass is drawn or it fails.
  while (r == MNG_NEEDTIMERWAIT && !d->done && !d->error) r = mng_display_resume(mng);
  d->feed = nullptr;
  if (d->image) {
    ContentFeedOutput(feed, d->image);
    d->image->loopCount = static_cast<uint16_t>(d->loops);
  }
  // A file cut short still shows the frames that were drawn.
  if (!d->image || !d->image->frameCount) return d->noMemory ? MngErr::NoMemory : MngErr::BadData;
  d->image->allFrames = 1;
  return kOk;
}

}  // namespace

Result MngDecodeStep(MngDecoder** state, ContentFeed* feed, const ContentSource* source) {
  if (!*state) {
    *state = static_cast<MngDecoder*>(MemAllocZero(sizeof(MngDecoder), Use::Data, Mod::MngGlue));
    if (!*state) return MngErr::NoMemory;
  }
  MngDecoder* d = *state;
  bool whole;
  Result result = ContentCollect(&d->body, feed, source, Mod::MngGlue, &whole);
  if (result == kOk && whole) {
    d->canvas = source->workBuffer;
    d->canvasSize = source->workBuffer ? source->workBufferSize : 0;
    result = Play(d, feed);
    if (result == kOk) feed->events |= ContentEvent::Done;
  }
  if (result != kOk || whole) Free(state);
  return result;
}

void MngDecodeRelease(MngDecoder** state) { Free(state); }
