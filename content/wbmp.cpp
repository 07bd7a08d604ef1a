#include "content/wbmp.h"

#include "kernel/mem.h"

namespace {

enum : uint32_t {
  kTypeField = 0,
  kFixedHeader = 1,
  kExtension = 2,
  kWidth = 3,
  kHeight = 4,
  kImageData = 5,
  kFinished = 6,
};

// WBMP's own integers run at most four bytes: 28 bits are room enough for
// any size the bands can hold.
constexpr uint32_t kMaxIntegerBytes = 4;

}  // namespace

struct WBmpDecoder {
  uint32_t headerState;
  uint32_t typeRow;
  uint32_t typeField, width, height;
  uint32_t integerBytes;  // bytes of the integer being read
  uint32_t extension;
  ContentImage* image;
  uint32_t bandCount;
  PglSurface* band;
  uint32_t offset;  // byte offset of the next pixel in the band
  uint32_t bandBytes, rowBytes, rowsPerBand;
  uint32_t rowsLeft;  // rows not yet given to a band
};

namespace {

using Op = Result (*)(WBmpDecoder* d, ContentFeed* feed, uint8_t byte);

// Accumulates one byte of a multi-byte integer; *done once its last byte is in.
Result Integer(WBmpDecoder* d, uint32_t* value, uint8_t byte, bool* done) {
  if (++d->integerBytes > kMaxIntegerBytes) return WBmpErr::Malformed;
  *value = *value << 7 | (byte & 0x7F);
  *done = !(byte & 0x80);
  if (*done) d->integerBytes = 0;
  return kOk;
}

Result FixedHeader(WBmpDecoder* d, ContentFeed*, uint8_t byte) {
  if (byte < 0x80) {
    d->headerState = kWidth;
  } else {
    d->extension = (byte >> 5) & 3;
    d->headerState = kExtension;
  }
  return kOk;
}

Result Width(WBmpDecoder* d, ContentFeed*, uint8_t byte) {
  bool done = false;
  Result r = Integer(d, &d->width, byte, &done);
  if (r == kOk && done) d->headerState = kHeight;
  return r;
}

Result SetUpImage(WBmpDecoder* d, ContentFeed* feed) {
  // The image record holds 16-bit sizes; an empty image has no geometry.
  if (!d->width || !d->height || d->width > 0xFFFF || d->height > 0xFFFF)
    return WBmpErr::Malformed;
  d->rowBytes = (2 * d->width + 14) & ~15u;
  d->rowsPerBand = 512 / d->rowBytes;
  if (!d->rowsPerBand) d->rowsPerBand = 1;
  d->bandBytes = d->rowsPerBand * d->rowBytes;
  d->bandCount = (d->height + d->rowsPerBand - 1) / d->rowsPerBand;
  d->rowsLeft = d->height;
  const uint32_t bytes = sizeof(ContentImage) + (d->bandCount - 1) * sizeof(PglSurface*);
  d->image = static_cast<ContentImage*>(MemAllocZero(bytes, Use::Data, Mod::WtlWBmp));
  if (!d->image) return WBmpErr::NoMemory;
  d->image->kind = ContentKind::Banded;
  d->image->width = static_cast<uint16_t>(d->width);
  d->image->height = static_cast<uint16_t>(d->height);
  ContentFeedOutput(feed, d->image);
  d->headerState = kImageData;
  return kOk;
}

Result Height(WBmpDecoder* d, ContentFeed* feed, uint8_t byte) {
  bool done = false;
  Result r = Integer(d, &d->height, byte, &done);
  if (r != kOk || !done) return r;
  return SetUpImage(d, feed);
}

void StoreBand(WBmpDecoder* d) {
  d->image->bands[d->image->bandCount++] = d->band;
  d->band = nullptr;
}

// Expands data bytes into the band being filled, eight pixels a byte, most
// significant bit leftmost; a row of the file expands to exactly row bytes.
uint32_t Expand(WBmpDecoder* d, const uint8_t* bytes, uint32_t count) {
  auto* out = reinterpret_cast<uint16_t*>(PglPixels(d->band) + d->offset);
  const uint32_t room = (d->band->height * d->rowBytes - d->offset) / 16;
  const uint32_t n = count < room ? count : room;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    for (int bit = 7; bit >= 0; --bit) *out++ = (b >> bit) & 1 ? 0xFFFF : 0x0000;
  }
  d->offset += n * 16;
  return n;
}

Result ImageData(WBmpDecoder* d, ContentFeed* feed, uint8_t byte) {
  if (!d->band) {
    const uint32_t rows = d->rowsLeft < d->rowsPerBand ? d->rowsLeft : d->rowsPerBand;
    d->band = ContentBandNew(d->width, rows, d->rowBytes / 2, false, Mod::WtlWBmp);
    if (!d->band) return WBmpErr::NoMemory;
    d->rowsLeft -= rows;
    d->offset = 0;
  }
  Expand(d, &byte, 1);
  // Further bytes of the block go straight into the band.
  uint32_t count;
  while (d->offset < d->band->height * d->rowBytes) {
    const uint8_t* bytes = ContentFeedPeek(feed, &count);
    if (!bytes) break;
    ContentFeedConsume(feed, Expand(d, bytes, count));
  }
  if (d->offset == d->band->height * d->rowBytes) {
    StoreBand(d);
    if (d->image->bandCount < d->bandCount) {
      feed->events |= ContentEvent::Data;
    } else {
      feed->events |= ContentEvent::Done;
      d->headerState = kFinished;
    }
  }
  return kOk;
}

// The WBMP types and the operations of their header fields and data, in
// reading order; type 0 has no extension headers.
struct WBmpType {
  uint32_t type;
  Op fixedHeader, extension, width, height, data;
};
constexpr WBmpType kTypes[] = {
    {0, FixedHeader, nullptr, Width, Height, ImageData},
};

Result Step(WBmpDecoder* d, ContentFeed* feed, uint8_t byte) {
  const WBmpType& type = kTypes[d->typeRow];
  switch (d->headerState) {
    case kTypeField: {
      bool done = false;
      Result r = Integer(d, &d->typeField, byte, &done);
      if (r != kOk || !done) return r;
      for (uint32_t i = 0; i < sizeof kTypes / sizeof kTypes[0]; ++i) {
        if (kTypes[i].type == d->typeField) {
          d->typeRow = i;
          d->headerState = kFixedHeader;
          return kOk;
        }
      }
      d->headerState = kFinished;
      return WBmpErr::Malformed;
    }
    case kFixedHeader: return type.fixedHeader(d, feed, byte);
    case kExtension:
      if (type.extension) return type.extension(d, feed, byte);
      d->headerState = kWidth;  // nothing to read: the byte starts the width
      return type.width(d, feed, byte);
    case kWidth: return type.width(d, feed, byte);
    case kHeight: return type.height(d, feed, byte);
    case kImageData: return type.data(d, feed, byte);
    default: return kOk;
  }
}

}  // namespace

void WBmpDecodeRelease(WBmpDecoder** state) {
  if (!*state) return;
  MemFree(&(*state)->band);
  MemFree(state);
}

Result WBmpDecodeStep(WBmpDecoder** state, ContentFeed* feed) {
  if (!*state) {
    *state = static_cast<WBmpDecoder*>(MemAllocZero(sizeof(WBmpDecoder), Use::Data, Mod::WtlWBmp));
    if (!*state) return WBmpErr::NoMemory;
  }
  WBmpDecoder* d = *state;
  uint8_t byte;
  while (d->headerState != kFinished && ContentFeedByte(feed, &byte)) {
    const Result r = Step(d, feed, byte);
    if (r != kOk) {
      WBmpDecodeRelease(state);
      return r;
    }
  }
  if (d->headerState == kFinished) {
    feed->events |= ContentEvent::Done;
    WBmpDecodeRelease(state);
  } else if (ContentFeedEnded(feed)) {
    // What arrived is shown: a partly filled band keeps its full height.
    feed->events |= ContentEvent::Done;
    if (d->band) StoreBand(d);
    WBmpDecodeRelease(state);
  }
  return kOk;
}
