// The JPEG decoder's step: the marker parser, the scan driver and the bands.
#include "content/jpeg.h"

#include "content/jpeg_internal.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

constexpr Result kScanBegins = 0x80108000;

// Marker parser states.
namespace St {
constexpr uint8_t Start = 0, Seek = 1, Code = 2, LengthHigh = 3, LengthLow = 4, Skip = 5,
                  Dqt = 6, DqtEntry = 7, Dht = 8, DhtCounts = 9, DhtSymbols = 10, Sos = 11,
                  SosComponent = 12, SosTail = 13, Sof = 14, SofSize = 15, SofComponent = 16,
                  Dri = 17, Scan = 18, Done = 19;
}

// The example tables of T.81 Annex K (K.1 luminance, K.2 chrominance), in
// natural order.
constexpr uint8_t kLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr uint8_t kChrominance[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

constexpr uint8_t kNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

uint32_t CeilDiv(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

bool QueueEmpty(const JpegStream* io) { return !io->input || !io->input->head; }

bool DataEnded(const JpegStream* io) { return io->endOfData && QueueEmpty(io); }

// Output rows of band b: the rows the accumulator picks among its source
// rows, which are floor(n x sH / Y) after n source rows.
uint32_t BandRows(const JpegDecoder* d, uint32_t b) {
  const uint64_t start = uint64_t{b} * 16;
  const uint64_t end = start + 16 < d->height ? start + 16 : d->height;
  return static_cast<uint32_t>(end * d->outHeight / d->height -
                               start * d->outHeight / d->height);
}

Result NewBand(JpegDecoder* d, uint32_t b) {
  const uint32_t rows = BandRows(d, b);
  if (!rows) return kOk;  // readers skip the empty entry
  uint32_t size = 0;
  if (PglSurfaceSize(&size, d->outWidth, rows, kPglRgb565, 0x80, PglFlag::Inline) != kOk ||
      !size)
    return JpegErr::NoMemory;
  auto* band = static_cast<PglSurface*>(MemAllocZero(size, Use::Data, Mod::WtlJpeg));
  if (!band) return JpegErr::NoMemory;
  PglInitSurface(band, d->outWidth, rows, kPglRgb565, 0x80, PglFlag::Inline);
  d->image->bands[b] = band;
  return kOk;
}

Result PrepareImage(JpegDecoder* d, JpegStream* io) {
  d->outWidth = d->width;
  d->outHeight = d->height;
  if (io->fitToWidth) PglFitToScreenWidth(d->width, d->height, &d->outWidth, &d->outHeight);
  d->scaling = d->outWidth != d->width || d->outHeight != d->height;
  // One band per 16 source rows, whatever the scaled height.
  d->bandCount = CeilDiv(d->height, 16);
  const uint32_t bytes =
      static_cast<uint32_t>(sizeof(ContentImage) + (d->bandCount - 1) * sizeof(PglSurface*));
  d->image = static_cast<ContentImage*>(MemAllocZero(bytes, Use::Data, Mod::WtlJpeg));
  if (!d->image) return JpegErr::NoMemory;
  d->image->kind = ContentKind::Banded;
  d->image->width = static_cast<uint16_t>(d->outWidth);
  d->image->height = static_cast<uint16_t>(d->outHeight);
  d->image->bandCount = static_cast<uint16_t>(d->bandCount);
  io->image = d->image;
  io->events |= JpegEvent::Added;
  d->rows = static_cast<uint16_t*>(MemAlloc(d->width * 32, Use::Data, Mod::WtlJpeg));
  if (!d->rows) return JpegErr::NoMemory;
  d->accumulator = d->height;
  return NewBand(d, 0);
}

// Converts the band's rows [bandStart, rowsDone) into its surface, then
// allocates the next band.
Result EmitBand(JpegDecoder* d, JpegStream* io) {
  PglSurface* target = d->image->bands[d->band];
  if (target) {
    if (!d->convOpen) {
      PglInitSurface(&d->rowSurface, d->width, 1, kPglRgb565, 0, 0);
      d->rowSurface.pixels = reinterpret_cast<uint8_t*>(d->rows);
      if (PglImageToSurface(&d->conv, &d->rowSurface, target, PglConv::Open) != PglConv::Open)
        return JpegErr::NoMemory;
      d->convOpen = 1;
    } else {
      PglImageToSurface(&d->conv, nullptr, target, PglConv::NewTarget);
    }
  }
  for (uint32_t y = d->bandStart; y < d->rowsDone; ++y) {
    uint16_t* row = d->rows + uint64_t{y - d->bandStart} * d->width;
    d->rowSurface.pixels = reinterpret_cast<uint8_t*>(row);
    if (d->scaling) {
      d->accumulator -= d->outHeight;
      if (d->accumulator >= 1) continue;
      d->accumulator += d->height;
      if (!target) continue;
      PglShrinkRowToScreen(&d->conv, &d->rowSurface);
    } else if (!target) {
      continue;
    }
    PglImageToSurface(&d->conv, &d->rowSurface, nullptr, PglConv::Convert);
  }
  io->events |= JpegEvent::Added;
  d->rowsEmitted = d->rowsDone;
  if (d->rowsDone >= d->height || d->band + 1 >= d->bandCount) return kOk;
  ++d->band;
  d->bandStart += 16;
  return NewBand(d, d->band);
}

void Complete(JpegDecoder* d, JpegStream* io) {
  if (d->convOpen) PglImageToSurface(&d->conv, nullptr, nullptr, PglConv::Close);
  d->convOpen = 0;
  d->state = St::Done;
  io->events |= JpegEvent::Complete;
  io->endOfData = 1;  // whatever else arrives is dropped
}

// Converts source rows [from, to) (within one band) and emits the band when
// they finish it.
Result ConvertRows(JpegDecoder* d, JpegStream* io, uint32_t from, uint32_t to) {
  if (to > d->height) to = d->height;
  if (from < d->rowsDone) from = d->rowsDone;
  if (from >= to) return kOk;
  JpegConvertRows(d, from, to);
  d->rowsDone = to;
  if (to == d->bandStart + 16 || to == d->height) return EmitBand(d, io);
  return kOk;
}

uint32_t McuRowHeight(const JpegDecoder* d) { return d->ns == 1 ? 8 : 8u * d->vMax; }

// Copies queued bytes into the entropy-data buffer after moving the unread
// ones to its front.
void Refill(JpegDecoder* d, JpegStream* io) {
  JpegBits& b = d->bits;
  if (b.pos) {
    LibcMemMove(d->in, d->in + b.pos, d->inEnd - b.pos);
    d->inEnd -= b.pos;
    b.pos = 0;
  }
  while (d->inEnd < kJpegInputBytes && !QueueEmpty(io)) {
    UtilDataChunk* chunk = UtilDataChunkHead(io->input);
    uint32_t n = kJpegInputBytes - d->inEnd;
    if (n > chunk->remaining) n = chunk->remaining;
    LibcMemCopy(d->in + d->inEnd, UtilDataChunkData(chunk) + chunk->offset, n);
    d->inEnd += n;
    chunk->offset += n;
    chunk->remaining -= n;
    if (!chunk->remaining) {
      QueuePopFront(io->input);
      MemFreeRaw(chunk);
    }
  }
}

Result AllocatePlanes(JpegDecoder* d) {
  d->planeMode = d->ns < d->nf;
  for (uint32_t i = 0; i < d->nf; ++i) {
    JpegComponent& c = d->comp[i];
    const uint64_t stride = uint64_t{d->mcusAcrossFrame} * c.h * 8;
    const uint64_t rows =
        d->planeMode ? uint64_t{d->mcusDownFrame} * c.v * 8 : (d->nf == 1 ? 8 : 8u * c.v);
    const uint64_t bytes = stride * rows;
    if (bytes > 0x7FFFFFFF) return JpegErr::NoMemory;
    c.plane = static_cast<uint8_t*>(
        MemAlloc(static_cast<uint32_t>(bytes), Use::Data, Mod::WtlJpeg));
    if (!c.plane) return JpegErr::NoMemory;
    LibcMemSet(c.plane, 128, static_cast<uint32_t>(bytes));  // neutral until decoded
    c.stride = static_cast<uint32_t>(stride);
    c.planeRows = static_cast<uint32_t>(rows);
    c.origin = 0;
  }
  return kOk;
}

Result StartScan(JpegDecoder* d) {
  for (uint32_t i = 0; i < d->ns; ++i)
    if (!d->huff[d->td[i]].defined || !d->huff[4 + d->ta[i]].defined) return JpegErr::BadData;
  if (!d->comp[0].plane) {
    const Result r = AllocatePlanes(d);
    if (r) return r;
  } else if (!d->planeMode) {
    return JpegErr::BadData;  // the frame was decoded by one scan already
  }
  if (d->ns == 1) {
    const JpegComponent& c = d->comp[d->scanComp[0]];
    d->mcusAcross = CeilDiv(c.sampleWidth, 8);
    d->mcusDown = CeilDiv(c.sampleHeight, 8);
  } else {
    d->mcusAcross = d->mcusAcrossFrame;
    d->mcusDown = d->mcusDownFrame;
  }
  d->mcuTotal = d->mcusAcross * d->mcusDown;
  for (uint32_t i = 0; i < d->nf; ++i) d->comp[i].predictor = 0;
  d->bits.acc = 0;
  d->bits.count = d->bits.pad = d->bits.fill = 0;
  d->bits.marker = d->bits.starved = d->bits.overrun = 0;
  d->mcu = -1;
  d->sinceRestart = 0;
  d->state = St::Scan;
  d->scanState = JpegScan::NextMcu;
  return kScanBegins;
}

Result FrameComponents(JpegDecoder* d) {
  d->hMax = d->vMax = 1;
  for (uint32_t i = 0; i < d->nf; ++i) {
    if (d->comp[i].h > d->hMax) d->hMax = d->comp[i].h;
    if (d->comp[i].v > d->vMax) d->vMax = d->comp[i].v;
  }
  for (uint32_t i = 0; i < d->nf; ++i) {
    JpegComponent& c = d->comp[i];
    c.sampleWidth = CeilDiv(uint64_t{d->width} * c.h, d->hMax);
    c.sampleHeight = CeilDiv(uint64_t{d->height} * c.v, d->vMax);
    // A lone component is the whole picture whatever its factors.
    c.shiftX = d->nf > 1 && c.h < d->hMax;
    c.shiftY = d->nf > 1 && c.v < d->vMax;
  }
  d->mcusAcrossFrame = CeilDiv(d->width, 8u * d->hMax);
  d->mcusDownFrame = CeilDiv(d->height, 8u * d->vMax);
  d->frameSeen = 1;
  return kOk;
}

// One header byte into the marker parser.
Result Parse(JpegDecoder* d, JpegStream* io, uint8_t b) {
  switch (d->state) {
    case St::Start: d->state = St::Seek; return kOk;
    case St::Seek:
      if (b == 0xFF) d->state = St::Code;
      return kOk;
    case St::Code:
      if (b == 0xFF) return kOk;  // fill byte
      if (b == 0xD8) d->eoiSeen = 0;
      if (b == 0xD9) d->eoiSeen = 1;
      // Markers without a segment, and stuffed data bytes.
      if (b == 0x00 || b == 0x01 || (b >= 0xD0 && b <= 0xD9)) {
        d->state = St::Seek;
        return kOk;
      }
      d->marker = b;
      d->state = St::LengthHigh;
      return kOk;
    case St::LengthHigh:
      d->counter = uint32_t{b} << 8;
      d->state = St::LengthLow;
      return kOk;
    case St::LengthLow: {
      const uint32_t length = d->counter | b;
      if (length < 2) return JpegErr::BadData;
      d->remaining = length - 2;
      d->counter = 0;
      switch (d->marker) {
        case 0xC0:
        case 0xC1:
          if (d->frameSeen) return JpegErr::BadData;
          d->state = St::Sof;
          return kOk;
        case 0xC2: return JpegErr::Progressive;
        case 0xC3: case 0xC5: case 0xC6: case 0xC7: case 0xC9: case 0xCA: case 0xCB: case 0xCD:
        case 0xCE: case 0xCF:
          return JpegErr::BadData;  // lossless, hierarchical or arithmetic coding
        case 0xC4: d->state = St::Dht; return kOk;
        case 0xDA:
          if (!d->frameSeen) return JpegErr::BadData;
          d->state = St::Sos;
          return kOk;
        case 0xDB: d->state = St::Dqt; return kOk;
        case 0xDD: d->state = St::Dri; return kOk;
        default: d->state = d->remaining ? St::Skip : St::Seek; return kOk;
      }
    }
    case St::Skip:
      if (--d->remaining == 0) d->state = St::Seek;
      return kOk;
    case St::Dqt:
      if (b == 0xFF) {
        d->state = St::Code;
        return kOk;
      }
      if ((b >> 4) > 1) return JpegErr::BadData;
      if ((b & 15) > 3) return JpegErr::BadData;
      d->item = b;
      d->counter = 0;
      d->state = St::DqtEntry;
      return kOk;
    case St::DqtEntry: {
      const uint32_t wide = d->item >> 4;
      uint32_t value = b;
      if (wide) {
        if (!(d->counter & 1)) {
          d->counts[0] = b;
          ++d->counter;
          return kOk;
        }
        value = uint32_t{d->counts[0]} << 8 | b;
      }
      const uint32_t i = d->counter >> wide;
      uint16_t* q = d->quant[d->item & 15];
      if (!value) value = i == 0 ? 16 : q[kNatural[i - 1]];
      q[kNatural[i]] = static_cast<uint16_t>(value);
      ++d->counter;
      if (i == 63) d->state = St::Dqt;
      return kOk;
    }
    case St::Dht:
      if (b == 0xFF) {
        d->state = St::Code;
        return kOk;
      }
      if ((b >> 4) > 1 || (b & 15) > 3) return JpegErr::BadData;
      d->item = (b >> 4) * 4 + (b & 15);
      d->counter = 0;
      d->state = St::DhtCounts;
      return kOk;
    case St::DhtCounts: {
      d->counts[d->counter++] = b;
      if (d->counter < 16) return kOk;
      if (!JpegHuffmanValid(d->counts)) return JpegErr::BadData;
      uint32_t total = 0;
      for (uint8_t n : d->counts) total += n;
      d->remaining = total;
      d->counter = 0;
      if (total) {
        d->state = St::DhtSymbols;
      } else {
        JpegBuildHuffman(&d->huff[d->item], d->counts, d->symbols, 0);
        d->state = St::Dht;
      }
      return kOk;
    }
    case St::DhtSymbols:
      d->symbols[d->counter++] = b;
      if (d->counter == d->remaining) {
        JpegBuildHuffman(&d->huff[d->item], d->counts, d->symbols, d->counter);
        d->state = St::Dht;
      }
      return kOk;
    case St::Sos:
      if (b < 1 || b > 3 || b > d->nf) return JpegErr::BadData;
      d->ns = b;
      d->counter = 0;
      d->state = St::SosComponent;
      return kOk;
    case St::SosComponent: {
      const uint32_t i = d->counter >> 1;
      if (!(d->counter & 1)) {
        // Component ids are looked up in the frame's list.
        uint32_t k = 0;
        while (k < d->nf && d->comp[k].id != b) ++k;
        if (k == d->nf) return JpegErr::BadData;
        for (uint32_t j = 0; j < i; ++j)
          if (d->scanComp[j] == k) return JpegErr::BadData;
        d->scanComp[i] = static_cast<uint8_t>(k);
      } else {
        if ((b >> 4) > 3 || (b & 15) > 3) return JpegErr::BadData;
        d->td[i] = b >> 4;
        d->ta[i] = b & 15;
      }
      if (++d->counter == 2u * d->ns) {
        d->counter = 0;
        d->state = St::SosTail;
      }
      return kOk;
    }
    case St::SosTail:
      if (++d->counter < 3) return kOk;
      return StartScan(d);
    case St::Sof:
      if (b != 8) return JpegErr::BadData;
      d->precision = b;
      d->frameType = d->marker & 15;
      d->counter = 0;
      d->state = St::SofSize;
      return kOk;
    case St::SofSize:
      switch (d->counter++) {
        case 0: d->height = uint32_t{b} << 8; return kOk;
        case 1: d->height |= b; return kOk;
        case 2: d->width = uint32_t{b} << 8; return kOk;
        case 3: d->width |= b; return kOk;
        default: break;
      }
      // Grey or YCbCr only; a height given later (DNL) is not taken.
      if ((b != 1 && b != 3) || !d->width || !d->height) return JpegErr::BadData;
      d->nf = b;
      d->counter = 0;
      d->state = St::SofComponent;
      return PrepareImage(d, io);
    case St::SofComponent: {
      JpegComponent& c = d->comp[d->counter / 3];
      switch (d->counter % 3) {
        case 0:
          for (uint32_t j = 0; j < d->counter / 3; ++j)
            if (d->comp[j].id == b) return JpegErr::BadData;
          c.id = b;
          break;
        case 1:
          c.h = b >> 4;
          c.v = b & 15;
          if (c.h < 1 || c.h > 2 || c.v < 1 || c.v > 2) return JpegErr::BadData;
          break;
        default:
          if (b > 3) return JpegErr::BadData;
          c.tq = b;
          break;
      }
      if (++d->counter == 3u * d->nf) {
        d->state = St::Seek;
        return FrameComponents(d);
      }
      return kOk;
    }
    case St::Dri:
      if (d->counter++ == 0) {
        d->restartInterval = uint32_t{b} << 8;
        return kOk;
      }
      d->restartInterval |= b;
      d->state = St::Seek;
      return kOk;
    default: return kOk;
  }
}

// The next header byte: the look-ahead byte, then bytes left over in the
// entropy buffer, then at most one queued block per step. -1 when none.
int32_t HeaderByte(JpegDecoder* d, JpegStream* io) {
  if (io->lookAhead >= 0 && io->lookAhead <= 255) {
    const int32_t b = io->lookAhead;
    io->lookAhead = -1;
    return b;
  }
  if (d->bits.pos < d->inEnd) return d->in[d->bits.pos++];
  d->bits.pos = d->inEnd = 0;
  if (d->blockConsumed || QueueEmpty(io)) return -1;
  UtilDataChunk* chunk = UtilDataChunkHead(io->input);
  int32_t b = -1;
  if (chunk->remaining) {
    b = UtilDataChunkData(chunk)[chunk->offset++];
    --chunk->remaining;
  }
  if (!chunk->remaining) {
    QueuePopFront(io->input);
    MemFreeRaw(chunk);
    d->blockConsumed = 1;
  }
  return b;
}

// Whole planes are turned into bands one band per step.
Result EmitStep(JpegDecoder* d, JpegStream* io) {
  const Result r = ConvertRows(d, io, d->bandStart, d->bandStart + 16);
  if (r) return r;
  if (d->rowsDone >= d->height) Complete(d, io);
  return kOk;
}

// The data ended inside the scan: the picture shows what arrived.
Result FinishEarly(JpegDecoder* d, JpegStream* io) {
  if (d->planeMode) {
    d->scanState = JpegScan::Emit;
    return EmitStep(d, io);
  }
  if (d->mcu >= 0) {
    const uint32_t my = static_cast<uint32_t>(d->mcu / d->mcusAcross);
    const uint32_t h = McuRowHeight(d);
    const uint64_t from = uint64_t{my} * h;
    if (from < d->height) {
      const uint32_t to = static_cast<uint32_t>(from + h < d->height ? from + h : d->height);
      if (d->rowsDone < to) {
        JpegConvertRows(d, d->rowsDone > from ? d->rowsDone : static_cast<uint32_t>(from), to);
        d->rowsDone = to;
        const Result r = EmitBand(d, io);
        if (r) return r;
      }
    }
  }
  Complete(d, io);
  return kOk;
}

Result EndOfScan(JpegDecoder* d, JpegStream* io) {
  if (!d->planeMode) {
    Complete(d, io);
    return kOk;
  }
  for (uint32_t i = 0; i < d->ns; ++i) d->comp[d->scanComp[i]].covered = 1;
  bool all = true;
  for (uint32_t i = 0; i < d->nf; ++i) all = all && d->comp[i].covered;
  if (all) {
    d->scanState = JpegScan::Emit;
    return kOk;
  }
  // More scans follow: back to the markers, from the bytes after this one.
  d->bits.acc = 0;
  d->bits.count = d->bits.pad = d->bits.fill = 0;
  d->state = St::Seek;
  return kOk;
}

// Skips to the next restart marker; another marker is left in place and the
// data reads as zeros up to it.
Result Resync(JpegDecoder* d, JpegStream* io) {
  JpegBits& bits = d->bits;
  bits.acc = 0;
  bits.count = bits.pad = bits.fill = 0;
  for (;;) {
    if (d->inEnd - bits.pos < 2) Refill(d, io);
    if (d->inEnd - bits.pos < 2) {
      if (DataEnded(io)) return FinishEarly(d, io);
      return kOk;
    }
    const uint8_t b0 = d->in[bits.pos], b1 = d->in[bits.pos + 1];
    if (b0 != 0xFF || b1 == 0x00) {
      bits.pos += b0 == 0xFF ? 2 : 1;
      bits.marker = 0;
      continue;
    }
    if (b1 == 0xFF) {
      ++bits.pos;
      continue;
    }
    if (b1 >= 0xD0 && b1 <= 0xD7) {
      bits.pos += 2;
      bits.marker = 0;
    } else {
      bits.marker = 1;
    }
    break;
  }
  for (uint32_t i = 0; i < d->ns; ++i) d->comp[d->scanComp[i]].predictor = 0;
  d->sinceRestart = 0;
  d->scanState = JpegScan::NextMcu;
  return kOk;
}

// One row of blocks of one component, or one step of what surrounds them.
Result ScanStep(JpegDecoder* d, JpegStream* io) {
  switch (d->scanState) {
    case JpegScan::Emit: return EmitStep(d, io);
    case JpegScan::Resync: {
      const Result r = Resync(d, io);
      if (r || d->scanState != JpegScan::NextMcu) return r;
      break;
    }
    case JpegScan::NextMcu:
      if (d->mcu + 1 >= d->mcuTotal) return EndOfScan(d, io);
      if (d->restartInterval && d->mcu >= 0 && d->sinceRestart >= d->restartInterval) {
        d->scanState = JpegScan::Resync;
        const Result r = Resync(d, io);
        if (r || d->scanState != JpegScan::NextMcu) return r;
      }
      break;
    default: break;
  }
  if (d->scanState == JpegScan::NextMcu) {
    ++d->mcu;
    ++d->sinceRestart;
    d->unitComp = d->unitRow = 0;
    if (!d->planeMode && d->mcu % d->mcusAcross == 0) {
      // A new strip: rows are held from here, neutral until decoded.
      const uint32_t my = static_cast<uint32_t>(d->mcu / d->mcusAcross);
      for (uint32_t i = 0; i < d->nf; ++i) {
        JpegComponent& c = d->comp[i];
        c.origin = my * (c.planeRows);
        LibcMemSet(c.plane, 128, c.stride * c.planeRows);
      }
    }
    d->scanState = JpegScan::Unit;
  }

  JpegBits& bits = d->bits;
  JpegComponent* c = &d->comp[d->scanComp[d->unitComp]];
  // More than any row of blocks needs is kept at hand; a unit that runs short
  // is tried again from a buffer filled to the brim, so the outcome does not
  // depend on how the data was cut.
  bool filled = false;
  if (d->inEnd - bits.pos < kJpegInputBytes / 2) {
    Refill(d, io);
    filled = true;
  }
  for (;;) {
    // Zeros that stood in for missing bytes give way to the bytes now here.
    bits.acc = bits.pad >= 64 ? 0 : bits.acc >> bits.pad;
    bits.count -= bits.pad;
    bits.pad = 0;
    bits.starved = bits.overrun = 0;
    const JpegBits saved = bits;
    const int32_t predictor = c->predictor;
    JpegDecodeUnit(d);
    if (!bits.starved) break;
    if (!filled) {
      bits = saved;
      c->predictor = predictor;
      Refill(d, io);
      filled = true;
      continue;
    }
    if (DataEnded(io)) return FinishEarly(d, io);
    // A full buffer that still runs short holds only filler: take the zeros.
    if (saved.pos == 0 && d->inEnd == kJpegInputBytes) break;
    bits = saved;
    c->predictor = predictor;
    return kOk;  // continues when more data is here
  }
  if (bits.overrun && !(d->restartInterval && bits.pos + 1 < d->inEnd &&
                        d->in[bits.pos + 1] >= 0xD0 && d->in[bits.pos + 1] <= 0xD7)) {
    // The scan's data ended at a marker other than an awaited restart: the
    // picture shows what arrived, and a further scan may follow.
    return d->planeMode ? EndOfScan(d, io) : FinishEarly(d, io);
  }
  const uint32_t rowsInMcu = d->ns == 1 ? 1 : c->v;
  if (++d->unitRow < rowsInMcu) return kOk;
  d->unitRow = 0;
  if (++d->unitComp < d->ns) return kOk;
  d->scanState = JpegScan::NextMcu;
  if (!d->planeMode && d->mcu % d->mcusAcross == d->mcusAcross - 1) {
    const uint32_t my = static_cast<uint32_t>(d->mcu / d->mcusAcross);
    const uint32_t h = McuRowHeight(d);
    return ConvertRows(d, io, my * h, my * h + h);
  }
  return kOk;
}

Result HeaderStep(JpegDecoder* d, JpegStream* io) {
  d->blockConsumed = 0;
  for (;;) {
    const int32_t b = HeaderByte(d, io);
    if (b < 0) break;
    const Result r = Parse(d, io, static_cast<uint8_t>(b));
    if (r == kScanBegins) return kOk;
    if (r) return r;
    if (d->state == St::Scan) return kOk;  // whole planes are being emitted
  }
  if (io->lookAhead < 0 && d->bits.pos >= d->inEnd && DataEnded(io)) {
    // A body that ends before its frame is whole completes without an image.
    if (d->image && d->planeMode) {
      // Scans that arrived are shown; missing colour stays neutral.
      d->state = St::Scan;
      d->scanState = JpegScan::Emit;
      return kOk;
    }
    Complete(d, io);
  }
  return kOk;
}

}  // namespace

Result JpegDecodeStep(JpegDecoder** state, JpegStream* io) {
  if (!*state) {
    auto* d = static_cast<JpegDecoder*>(MemAllocZero(sizeof(JpegDecoder), Use::Data, Mod::WtlJpeg));
    if (!d) return JpegErr::NoMemory;
    d->huff = static_cast<JpegHuff*>(MemAllocZero(8 * sizeof(JpegHuff), Use::Data, Mod::WtlJpeg));
    if (!d->huff) {
      MemFreeRaw(d);
      return JpegErr::NoMemory;
    }
    for (uint32_t i = 0; i < 64; ++i) {
      d->quant[0][i] = kLuminance[i];
      d->quant[1][i] = kChrominance[i];
    }
    *state = d;
  }
  JpegDecoder* d = *state;
  Result r = kOk;
  if (d->state == St::Scan) {
    r = ScanStep(d, io);
    if (r) io->events |= JpegEvent::Error;
  } else if (d->state != St::Done) {
    r = HeaderStep(d, io);
  }
  if (r || (io->events & JpegEvent::Complete)) {
    if (!r && io->input) UtilDataChunkFreeQueue(io->input);  // trailing bytes are dropped
    JpegDecoderFree(state);
  }
  return r;
}

void JpegDecoderFree(JpegDecoder** state) {
  JpegDecoder* d = *state;
  if (!d) return;
  if (d->convOpen) PglImageToSurface(&d->conv, nullptr, nullptr, PglConv::Close);
  for (JpegComponent& c : d->comp) MemFree(&c.plane);
  MemFree(&d->rows);
  MemFree(&d->huff);
  MemFree(state);
}

void JpegImageFree(ContentImage** image) {
  ContentImage* img = *image;
  if (!img) return;
  for (uint32_t i = 0; i < img->bandCount; ++i) MemFree(&img->bands[i]);
  MemFree(image);
}
