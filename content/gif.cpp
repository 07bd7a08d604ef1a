#include "content/gif.h"

#include "kernel/mem.h"

namespace {

enum class State : uint8_t {
  Signature,      // "GIF", any case
  Screen,         // version and logical screen descriptor
  GlobalTable,
  Introducer,     // "!", "," or ";"
  ExtensionLabel,
  SubBlockSize,   // of an extension
  SubBlockData,
  Descriptor,
  LocalTable,
  CodeSize,
  DataSize,       // of an image data sub-block
  Data,
  Finished,
};

enum class Extension : uint8_t { Other, GraphicControl, Application };

constexpr uint32_t kMaxCodes = 4096;
constexpr uint32_t kNoIndex = 0xFFFFFFFF;

}  // namespace

struct GifDecoder {
  State state;
  uint32_t remaining;  // bytes of the current field or sub-block still due
  uint32_t collected;
  uint8_t field[16];
  Extension extension;
  uint32_t subBlock;  // index of the extension's sub-block

  uint32_t screenWidth, screenHeight;  // logical screen
  uint32_t outWidth, outHeight;        // after fitting to the screen
  bool scaled;
  uint16_t global[256];
  uint16_t local[256];
  uint32_t globalEntries;
  uint32_t backgroundIndex;
  uint16_t* colours;  // the table of the current image
  uint32_t entry;     // colour table entry being filled

  // Graphic control of the next image.
  uint32_t disposal, userInput, delay, transparentIndex;

  // The current image: its descriptor, the part of it on the logical screen
  // and that part's size in the output.
  uint32_t left, top, width, height;
  uint32_t visibleWidth, visibleHeight;
  uint32_t outLeft, outTop, frameWidth, frameHeight;
  bool interlaced;
  uint32_t pass;
  uint32_t x, row;     // position of the next pixel in the image
  uint64_t pixelsLeft; // pixels the image still takes
  uint16_t* target;    // output row of the current image row, or null

  // LZW.
  uint32_t minCodeSize, codeSize, clearCode, endCode, nextCode;
  uint32_t previous;  // kNoIndex right after a clear
  uint32_t bits, bitCount;
  bool dataEnded;  // the end code came; the rest of the data is skipped
  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint8_t first[kMaxCodes];
  uint8_t stack[kMaxCodes + 1];

  // Output.
  ContentImage* image;
  ContentImageFrame* frame;  // the current image's frame, linked once it has a band
  ContentImageFrame* last;   // the last frame of the list
  uint32_t rowsPerBand, bandTotal;
  uint16_t* bandRows;  // rows written so far, per band of the frame
  bool keyed;
};

namespace {

uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }

void Collect(GifDecoder* d, State state, uint32_t count) {
  d->state = state;
  d->remaining = count;
  d->collected = 0;
}

// Finishes the current frame: whatever bands it has stay as they are.
void EndFrame(GifDecoder* d) {
  if (d->frame && !d->frame->complete) d->frame->complete = 1;
  if (d->frame && d->frame->next == nullptr && d->frame != d->last) {
    // Never linked: it produced no band. The record goes.
    MemFree(&d->frame);
  }
  d->frame = nullptr;
  MemFree(&d->bandRows);
  d->target = nullptr;
}

void MarkPreviousComplete(GifDecoder* d) {
  if (d->last) d->last->complete = 1;
}

Result CreateImage(GifDecoder* d, ContentFeed* feed) {
  const uint8_t* f = d->field;
  if (!((f[0] == '8' && (f[1] == '7' || f[1] == '9') && f[2] == 'a'))) return GifErr::BadData;
  d->screenWidth = Le16(f + 3);
  d->screenHeight = Le16(f + 5);
  const uint32_t flags = f[7];
  d->backgroundIndex = f[8];
  d->outWidth = d->screenWidth;
  d->outHeight = d->screenHeight;
  if (feed->requestFlags & ContentRequest::FitToScreen)
    PglFitToScreenWidth(d->screenWidth, d->screenHeight, &d->outWidth, &d->outHeight);
  d->scaled = d->outWidth != d->screenWidth || d->outHeight != d->screenHeight;

  d->image = static_cast<ContentImage*>(MemAllocZero(sizeof(ContentImage), Use::Data, Mod::WtlGif));
  if (!d->image) return GifErr::NoMemory;
  d->image->kind = ContentKind::Animation;
  d->image->width = static_cast<uint16_t>(d->outWidth);
  d->image->height = static_cast<uint16_t>(d->outHeight);
  d->image->loopCount = 1;
  ContentFeedOutput(feed, d->image);

  if (flags & 0x80) {
    d->globalEntries = 2u << (flags & 7);
    d->colours = d->global;
    d->entry = 0;
    Collect(d, State::GlobalTable, 3 * d->globalEntries);
  } else {
    d->state = State::Introducer;
  }
  return kOk;
}

// One colour table entry has been collected into the field.
void StoreColour(GifDecoder* d) {
  d->colours[d->entry] = ContentRgb565(d->field[0], d->field[1], d->field[2]);
  if (d->colours == d->global && d->entry == d->backgroundIndex)
    d->image->background = d->colours[d->entry];
  ++d->entry;
  d->collected = 0;
}

// Output position of source index i of n when n is shrunk to m (m <= n):
// the same dropping rule as the JPEG decoder's and the screen shrink, an
// accumulator from n less m a step that keeps the index when it drops below 1.
bool Kept(uint64_t i, uint64_t n, uint64_t m, uint32_t* out) {
  const uint64_t before = i * m / n, after = (i + 1) * m / n;
  if (after == before) return false;
  *out = static_cast<uint32_t>(before);
  return true;
}

void SetUpImage(GifDecoder* d) {
  const uint8_t* f = d->field;
  d->left = Le16(f);
  d->top = Le16(f + 2);
  d->width = Le16(f + 4);
  d->height = Le16(f + 6);
  d->interlaced = f[8] & 0x40;
  // Only the part on the logical screen is kept.
  d->visibleWidth = d->left < d->screenWidth ? d->screenWidth - d->left : 0;
  if (d->width < d->visibleWidth) d->visibleWidth = d->width;
  d->visibleHeight = d->top < d->screenHeight ? d->screenHeight - d->top : 0;
  if (d->height < d->visibleHeight) d->visibleHeight = d->height;
  if (d->scaled && !d->screenHeight) {
    // A screen with no rows shows nothing of any image.
    d->outLeft = d->outTop = d->frameWidth = d->frameHeight = 0;
  } else if (d->scaled) {
    d->outLeft = static_cast<uint32_t>(uint64_t{d->left} * d->outWidth / d->screenWidth);
    d->outTop = static_cast<uint32_t>(uint64_t{d->top} * d->outHeight / d->screenHeight);
    d->frameWidth = static_cast<uint32_t>(uint64_t{d->visibleWidth} * d->outWidth / d->screenWidth);
    d->frameHeight =
        static_cast<uint32_t>(uint64_t{d->visibleHeight} * d->outHeight / d->screenHeight);
    // A part that shows keeps at least one pixel either way.
    if (d->visibleWidth && !d->frameWidth) d->frameWidth = 1;
    if (d->visibleHeight && !d->frameHeight) d->frameHeight = 1;
  } else {
    d->outLeft = d->left;
    d->outTop = d->top;
    d->frameWidth = d->visibleWidth;
    d->frameHeight = d->visibleHeight;
  }
  d->pass = 0;
  d->x = 0;
  d->row = 0;
  d->pixelsLeft = uint64_t{d->width} * d->height;
  d->target = nullptr;
  d->keyed = d->transparentIndex != kNoIndex;
  if (f[8] & 0x80) {
    const uint32_t entries = 2u << (f[8] & 7);
    for (uint32_t i = entries; i < 256; ++i) d->local[i] = 0;
    d->colours = d->local;
    d->entry = 0;
    Collect(d, State::LocalTable, 3 * entries);
  } else {
    d->colours = d->global;
    d->state = State::CodeSize;
  }
}

Result StartFrame(GifDecoder* d) {
  if (!d->frameWidth || !d->frameHeight) return kOk;  // nothing of it shows
  const uint32_t rowBytes = 2 * d->frameWidth;
  d->rowsPerBand = 512 / rowBytes ? 512 / rowBytes : 1;
  d->bandTotal = (d->frameHeight + d->rowsPerBand - 1) / d->rowsPerBand;
  const uint32_t bytes =
      sizeof(ContentImageFrame) + (d->bandTotal - 1) * sizeof(PglSurface*);
  d->frame = static_cast<ContentImageFrame*>(MemAllocZero(bytes, Use::Data, Mod::WtlGif));
  d->bandRows = static_cast<uint16_t*>(
      MemAllocZero(d->bandTotal * sizeof(uint16_t), Use::Data, Mod::WtlGif));
  if (!d->frame || !d->bandRows) return GifErr::NoMemory;
  d->frame->width = static_cast<uint16_t>(d->frameWidth);
  d->frame->height = static_cast<uint16_t>(d->frameHeight);
  d->frame->left = static_cast<uint16_t>(d->outLeft);
  d->frame->top = static_cast<uint16_t>(d->outTop);
  d->frame->delay = d->delay * 10;
  return kOk;
}

Result StartLzw(GifDecoder* d, uint32_t minCodeSize) {
  if (minCodeSize < 1 || minCodeSize > 11) return GifErr::BadData;
  d->minCodeSize = minCodeSize;
  d->clearCode = 1u << minCodeSize;
  d->endCode = d->clearCode + 1;
  d->codeSize = minCodeSize + 1;
  d->nextCode = d->clearCode + 2;
  d->previous = kNoIndex;
  d->bits = d->bitCount = 0;
  d->dataEnded = false;
  for (uint32_t i = 0; i < d->clearCode; ++i) {
    d->prefix[i] = 0;
    d->suffix[i] = d->first[i] = static_cast<uint8_t>(i);
  }
  return StartFrame(d);
}

// The output row for the image row about to be filled, allocating its band
// (and linking the frame in before its first band); null when the row is
// dropped or lies off the screen.
Result RowTarget(GifDecoder* d, uint32_t* outRow) {
  d->target = nullptr;
  if (!d->frame || d->row >= d->visibleHeight) return kOk;
  uint32_t r = d->row;
  if (d->scaled && !Kept(d->row, d->visibleHeight, d->frameHeight, &r)) return kOk;
  const uint32_t band = r / d->rowsPerBand;
  if (band >= d->bandTotal) return kOk;
  ContentImageFrame* frame = d->frame;
  if (!frame->bands[band]) {
    const uint32_t rows = d->frameHeight - band * d->rowsPerBand < d->rowsPerBand
                              ? d->frameHeight - band * d->rowsPerBand
                              : d->rowsPerBand;
    PglSurface* surface = ContentBandNew(d->frameWidth, rows, d->frameWidth, d->keyed, Mod::WtlGif);
    if (!surface) return GifErr::NoMemory;
    if (d->frame != d->last) {
      if (d->last) {
        d->last->next = frame;
      } else {
        d->image->firstFrame = frame;
      }
      d->last = frame;
      ++d->image->frameCount;
    }
    frame->bands[band] = surface;
    if (frame->bandCount < band + 1) frame->bandCount = static_cast<uint16_t>(band + 1);
  }
  PglSurface* surface = frame->bands[band];
  d->target = reinterpret_cast<uint16_t*>(PglPixels(surface)) +
              (r - band * d->rowsPerBand) * surface->pitch;
  *outRow = r;
  return kOk;
}

// The image row after the current one, in interlace order when interlaced.
void NextRow(GifDecoder* d) {
  static constexpr uint32_t kStart[4] = {0, 4, 2, 1};
  static constexpr uint32_t kStep[4] = {8, 8, 4, 2};
  if (!d->interlaced) {
    ++d->row;
    return;
  }
  d->row += kStep[d->pass];
  while (d->row >= d->height && d->pass < 3) {
    ++d->pass;
    d->row = kStart[d->pass];
  }
}

void RowDone(GifDecoder* d, ContentFeed* feed, uint32_t outRow) {
  const uint32_t band = outRow / d->rowsPerBand;
  const PglSurface* surface = d->frame->bands[band];
  if (++d->bandRows[band] == surface->height) feed->events |= ContentEvent::Data;
}

// Puts decoded colour indexes into the image, row by row; pixels past the
// image's own size are dropped.
Result Emit(GifDecoder* d, ContentFeed* feed, const uint8_t* indexes, uint32_t count) {
  for (uint32_t i = 0; i < count && d->pixelsLeft; ++i, --d->pixelsLeft) {
    if (d->x == 0) {
      uint32_t outRow = 0;
      Result r = RowTarget(d, &outRow);
      if (r != kOk) return r;
    }
    if (d->target && d->x < d->visibleWidth) {
      uint32_t column = d->x;
      if (!d->scaled || Kept(d->x, d->visibleWidth, d->frameWidth, &column)) {
        const uint8_t index = indexes[i];
        uint16_t pixel;
        if (index == d->transparentIndex) {
          pixel = kContentKeyColour;
        } else {
          pixel = d->colours[index];
          if (d->keyed) pixel = ContentOpaqueOnKey(pixel);
        }
        d->target[column] = pixel;
      }
    }
    if (++d->x == d->width) {
      d->x = 0;
      if (d->target) {
        uint32_t outRow = d->row;
        if (d->scaled) Kept(d->row, d->visibleHeight, d->frameHeight, &outRow);
        RowDone(d, feed, outRow);
      }
      d->target = nullptr;
      NextRow(d);
    }
  }
  return kOk;
}

Result Code(GifDecoder* d, ContentFeed* feed, uint32_t code) {
  if (code == d->clearCode) {
    d->codeSize = d->minCodeSize + 1;
    d->nextCode = d->clearCode + 2;
    d->previous = kNoIndex;
    return kOk;
  }
  if (code == d->endCode) {
    d->dataEnded = true;
    return kOk;
  }
  // A code may name only an entry already made, or the one being made.
  if (code > d->nextCode || (code == d->nextCode && d->previous == kNoIndex))
    return GifErr::BadData;
  uint32_t top = kMaxCodes + 1;
  uint32_t c = code;
  if (code == d->nextCode) {
    d->stack[--top] = d->first[d->previous];
    c = d->previous;
  }
  while (c >= d->clearCode) {
    d->stack[--top] = d->suffix[c];
    c = d->prefix[c];
  }
  d->stack[--top] = static_cast<uint8_t>(c);
  const uint8_t head = d->stack[top];
  if (d->previous != kNoIndex && d->nextCode < kMaxCodes) {
    d->prefix[d->nextCode] = static_cast<uint16_t>(d->previous);
    d->suffix[d->nextCode] = head;
    d->first[d->nextCode] = d->first[d->previous];
    ++d->nextCode;
    // Past the last code the size stays at 12 bits until the encoder clears.
    if (d->nextCode == 1u << d->codeSize && d->codeSize < 12) ++d->codeSize;
  }
  d->previous = code;
  return Emit(d, feed, d->stack + top, kMaxCodes + 1 - top);
}

Result DataByte(GifDecoder* d, ContentFeed* feed, uint8_t byte) {
  if (d->dataEnded) return kOk;
  d->bits |= uint32_t{byte} << d->bitCount;
  d->bitCount += 8;
  while (d->bitCount >= d->codeSize && !d->dataEnded) {
    const uint32_t code = d->bits & ((1u << d->codeSize) - 1);
    d->bits >>= d->codeSize;
    d->bitCount -= d->codeSize;
    Result r = Code(d, feed, code);
    if (r != kOk) return r;
  }
  return kOk;
}

void ExtensionSubBlock(GifDecoder* d) {
  const uint8_t* f = d->field;
  if (d->extension == Extension::GraphicControl && d->subBlock == 0 && d->collected >= 4) {
    d->disposal = (f[0] >> 2) & 7;
    d->userInput = (f[0] >> 1) & 1;
    d->delay = Le16(f + 1);
    d->transparentIndex = f[0] & 1 ? f[3] : kNoIndex;
    if (f[0] & 1) d->image->transparent = 1;
  } else if (d->extension == Extension::Application && d->collected >= 3 && f[0] == 1) {
    // The count is of repeats after the first play; 0 stays endless.
    const uint32_t repeats = Le16(f + 1);
    d->image->loopCount = repeats == 0 ? 0 : static_cast<uint16_t>(repeats < 0xFFFF ? repeats + 1 : 0xFFFF);
  }
  ++d->subBlock;
}

Result Byte(GifDecoder* d, ContentFeed* feed, uint8_t byte) {
  switch (d->state) {
    case State::Signature: {
      static constexpr char kSig[] = "GIF";
      if ((byte | 0x20) != (kSig[d->collected] | 0x20)) return GifErr::BadData;
      if (++d->collected == 3) Collect(d, State::Screen, 10);
      return kOk;
    }
    case State::Screen:
      d->field[d->collected++] = byte;
      return --d->remaining ? kOk : CreateImage(d, feed);
    case State::GlobalTable:
    case State::LocalTable:
      d->field[d->collected++] = byte;
      if (d->collected == 3) StoreColour(d);
      if (--d->remaining) return kOk;
      d->state = d->state == State::GlobalTable ? State::Introducer : State::CodeSize;
      return kOk;
    case State::Introducer:
      MarkPreviousComplete(d);
      if (byte == '!') {
        d->state = State::ExtensionLabel;
      } else if (byte == ',') {
        Collect(d, State::Descriptor, 9);
      } else if (byte == ';') {
        d->image->allFrames = 1;
        feed->events |= ContentEvent::Done;
        d->state = State::Finished;
      } else {
        return GifErr::BadData;
      }
      return kOk;
    case State::ExtensionLabel:
      d->extension = byte == 0xF9   ? Extension::GraphicControl
                     : byte == 0xFF ? Extension::Application
                                    : Extension::Other;
      d->subBlock = 0;
      d->state = State::SubBlockSize;
      return kOk;
    case State::SubBlockSize:
      if (byte == 0) {
        d->state = State::Introducer;
      } else {
        Collect(d, State::SubBlockData, byte);
      }
      return kOk;
    case State::SubBlockData:
      if (d->collected < sizeof d->field) d->field[d->collected] = byte;
      ++d->collected;
      if (--d->remaining == 0) {
        ExtensionSubBlock(d);
        d->state = State::SubBlockSize;
      }
      return kOk;
    case State::Descriptor:
      d->field[d->collected++] = byte;
      if (--d->remaining == 0) SetUpImage(d);
      return kOk;
    case State::CodeSize: {
      d->state = State::DataSize;
      return StartLzw(d, byte);
    }
    case State::DataSize:
      if (byte == 0) {
        EndFrame(d);
        // The graphic control applied to this image only.
        d->disposal = d->userInput = d->delay = 0;
        d->transparentIndex = kNoIndex;
        d->state = State::Introducer;
      } else {
        d->remaining = byte;
        d->state = State::Data;
      }
      return kOk;
    case State::Data:
      if (--d->remaining == 0) d->state = State::DataSize;
      return DataByte(d, feed, byte);
    case State::Finished: return kOk;
  }
  return kOk;
}

}  // namespace

void GifDecodeRelease(GifDecoder** state) {
  if (!*state) return;
  EndFrame(*state);
  MemFree(state);
}

Result GifDecodeStep(GifDecoder** state, ContentFeed* feed) {
  if (!*state) {
    *state = static_cast<GifDecoder*>(MemAllocZero(sizeof(GifDecoder), Use::Data, Mod::WtlGif));
    if (!*state) return GifErr::NoMemory;
    (*state)->transparentIndex = kNoIndex;
  }
  GifDecoder* d = *state;
  uint32_t count;
  while (d->state != State::Finished) {
    const uint8_t* bytes = ContentFeedPeek(feed, &count);
    if (!bytes) break;
    uint32_t used = 0;
    Result r = kOk;
    while (used < count && r == kOk && d->state != State::Finished) r = Byte(d, feed, bytes[used++]);
    ContentFeedConsume(feed, used);
    if (r != kOk) {
      GifDecodeRelease(state);
      return r;
    }
  }
  if (d->state == State::Finished) {
    GifDecodeRelease(state);
  } else if (ContentFeedEnded(feed)) {
    // What arrived is shown; no further frame can come.
    if (d->image) {
      MarkPreviousComplete(d);
      d->image->allFrames = 1;
    }
    feed->events |= ContentEvent::Done;
    GifDecodeRelease(state);
  }
  return kOk;
}
