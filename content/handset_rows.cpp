// The nbmp and sis rows and the adver element's image objects.
#include "content/handset_rows.h"

#include "browser/status.h"
#include "content/body_collect.h"
#include "content/content_rows.h"
#include "content/decode_feed.h"
#include "content/nbmp.h"
#include "graphics/sis.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// --- Pixels to RGB565 --------------------------------------------------------
constexpr uint16_t kGrey4[4] = {0xFFFF, 0xD69A, 0xAD55, 0x0000};
constexpr uint8_t kLevel8[8] = {0x00, 0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xFF};
constexpr uint8_t kLevel4[4] = {0x00, 0x40, 0x80, 0xFF};

// Packed source rows, each starting on a byte boundary.
struct Source {
  const uint8_t* rows;
  uint32_t rowBytes;
  uint32_t bits;             // 1, 2 or 8
  const uint8_t* palette;    // 8 bits: 256 RGB triples, or null for RRRGGGBB
};

uint16_t PixelAt(const Source& s, uint32_t x, uint32_t y) {
  const uint8_t* row = s.rows + y * s.rowBytes;
  switch (s.bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0x0000 : 0xFFFF;
    case 2: return kGrey4[(row[x >> 2] >> (6 - 2 * (x & 3))) & 3];
    default: {
      const uint8_t v = row[x];
      if (s.palette) {
        const uint8_t* rgb = s.palette + 3 * v;
        return ContentRgb565(rgb[0], rgb[1], rgb[2]);
      }
      return ContentRgb565(kLevel8[v >> 5], kLevel8[(v >> 2) & 7], kLevel4[v & 3]);
    }
  }
}

// One source row into `width` RGB565 pixels, a source byte at a time.
void ConvertRow(const Source& s, uint32_t y, uint32_t width, uint16_t* out) {
  const uint8_t* row = s.rows + y * s.rowBytes;
  uint32_t x = 0;
  switch (s.bits) {
    case 1:
      for (; x + 8 <= width; x += 8) {
        const uint8_t b = *row++;
        for (uint32_t i = 0; i < 8; ++i) out[x + i] = (b >> (7 - i)) & 1 ? 0x0000 : 0xFFFF;
      }
      break;
    case 2:
      for (; x + 4 <= width; x += 4) {
        const uint8_t b = *row++;
        for (uint32_t i = 0; i < 4; ++i) out[x + i] = kGrey4[(b >> (6 - 2 * i)) & 3];
      }
      break;
    default:
      break;
  }
  for (; x < width; ++x) out[x] = PixelAt(s, x, y);
}

// Bytes the source needs for `height` rows.
uint64_t SourceBytes(const Source& s, uint32_t height) { return uint64_t{s.rowBytes} * height; }

// One frame of (width x height) from the source, in bands of about 512
// bytes; null without memory.
ContentImageFrame* ConvertFrame(const Source& s, uint32_t width, uint32_t height, uint32_t left,
                                uint32_t top, uint32_t delayMs, uint32_t module) {
  const uint32_t bandRowBytes = 2 * width;
  uint32_t rowsPerBand = 512 / bandRowBytes;
  if (rowsPerBand == 0) rowsPerBand = 1;
  uint32_t bandCount = (height + rowsPerBand - 1) / rowsPerBand;
  if (bandCount == 0) bandCount = 1;
  ContentImageFrame* frame = ContentFrameNew(bandCount, module);
  if (!frame) return nullptr;
  frame->width = static_cast<uint16_t>(width);
  frame->height = static_cast<uint16_t>(height);
  frame->left = static_cast<uint16_t>(left);
  frame->top = static_cast<uint16_t>(top);
  frame->delay = delayMs;
  for (uint32_t y0 = 0; y0 < height; y0 += rowsPerBand) {
    const uint32_t rows = height - y0 < rowsPerBand ? height - y0 : rowsPerBand;
    PglSurface* band = ContentBandNew(width, rows, width, false, module);
    if (!band) {
      ContentFrameFree(frame);
      return nullptr;
    }
    auto* out = reinterpret_cast<uint16_t*>(PglPixels(band));
    for (uint32_t y = 0; y < rows; ++y, out += width) ConvertRow(s, y0 + y, width, out);
    frame->bands[frame->bandCount++] = band;
  }
  frame->complete = 1;
  return frame;
}

void AppendFrame(ContentImage* image, ContentImageFrame* frame, bool count) {
  ContentImageFrame** tail = &image->firstFrame;
  while (*tail) tail = &(*tail)->next;
  *tail = frame;
  if (count) ++image->frameCount;
}

// --- nbmp --------------------------------------------------------------------
// The codec draws frames onto a canvas at the end of its area that starts
// as the buffer holds it; the stream's first frame assumes a blank one, and
// the last user's leftovers would otherwise show through.
void ClearNbmpArea(uint8_t* area) { LibcMemSet(area, 0, WorkArea::DecodeOutputBytes); }

// Builds the animation of a decoded nbmp block in the decode-output area.
// Frames of no size are skipped; one larger than the canvas shows as its
// first pixel.
Result NbmpImageOf(uint8_t* area, ContentImage** out, uint32_t module, Result noMemory,
                   Result malformed) {
  auto* block = reinterpret_cast<NbmpImage*>(area);
  if (block->depthCode != 0 && block->depthCode != 2) return malformed;
  if (block->width > 0xFFFF || block->height > 0xFFFF) return malformed;
  ContentImage* image = ContentAnimationNew(block->width, block->height, module);
  if (!image) return noMemory;
  image->loopCount = block->loopCount;
  const uint8_t* areaEnd = area + WorkArea::DecodeOutputBytes;
  for (uint32_t i = 0; i < block->frameCount; ++i) {
    const NbmpFrame* f = block->frames[i];
    const auto* fp = reinterpret_cast<const uint8_t*>(f);
    if (fp < area || fp + sizeof(NbmpFrame) > areaEnd) break;
    if (f->width == 0 || f->height == 0) continue;
    Source s{NbmpFramePixels(const_cast<NbmpFrame*>(f)), NbmpRowBytes(f->width, block->depthCode),
             block->depthCode == 0 ? 1u : 2u, nullptr};
    uint32_t w = f->width, h = f->height;
    if (w > block->width || h > block->height) w = h = 1;
    if (s.rows + SourceBytes(s, h) > areaEnd) break;
    ContentImageFrame* frame = ConvertFrame(s, w, h, f->x, f->y, f->delay * 100u, module);
    if (!frame) {
      ContentImageFree(image);
      return noMemory;
    }
    AppendFrame(image, frame, true);
  }
  image->allFrames = 1;
  *out = image;
  return kOk;
}

// Collects the body as the load's state; *out is that body once it is all in.
Result Collect(UrlModuleContext* module, UrlLoad* load, uint32_t needs, uint32_t room,
               uint32_t mod, Result noMemory, Result malformed, ContentBody** out) {
  *out = nullptr;
  if (!module || module->workBufferSize < needs) return noMemory;
  ContentBody* state = ContentBodyOfLoad(load, mod);
  if (!state) return noMemory;
  ContentBodyState done;
  if (Result r = ContentBodyCollect(state, load, room, mod, noMemory, malformed, &done);
      r != kOk) {
    ContentBodyRelease(load);
    return r;
  }
  if (done == ContentBodyState::Complete) *out = state;
  return kOk;
}

void Finish(UrlLoad* load, ContentImage* image) {
  UrlLoadAddOutput(load, reinterpret_cast<QueueNode*>(image));
  load->outputFree = ContentOutputFree;
  load->events |= UrlEvent::Complete;
}

// --- sis -----------------------------------------------------------------------
// Kept with an animated image for its later frames.
struct SisKept {
  uint32_t length;
};

uint32_t Word(const uint8_t* p) {
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Sets the decoder up over the work buffer's areas and probes the body;
// false for a body that is no handset image.
bool SisBegin(uint8_t* work, const uint8_t* body, uint32_t length, SisImageInfo* info) {
  SisDecoderInit(work + WorkArea::DecodeOutput, WorkArea::DecodeOutputBytes,
                 work + WorkArea::DecoderWork, WorkArea::DecoderWorkBytes, 256, 256);
  if (!SisProbeHeader(body, length, info)) return false;
  if (info->width == 0) info->width = 256;
  if (info->height == 0) info->height = 256;
  uint32_t kind = 0;
  if (const uint8_t* palette = SisGetPalette(&kind); palette && kind)
    LibcMemCopy(work + WorkArea::Palette, palette, WorkArea::PaletteBytes);
  return true;
}

// Decodes frame `index` into the frame area and converts it; null when it
// cannot be decoded or memory runs out.
ContentImageFrame* SisFrame(uint8_t* work, const uint8_t* body, uint32_t length,
                            const SisImageInfo& info, uint32_t index, uint32_t module) {
  if (index >= info.frameCount) return nullptr;
  uint8_t* area = work + WorkArea::Frame;
  if (SisDecodeFrame(body, length, area, WorkArea::FrameBytes, static_cast<int32_t>(index), 0) != 1)
    return nullptr;
  const uint32_t code = area[6], rowWidth = Word(area + 8);
  const uint32_t offset = Word(area + 16);
  if (offset > WorkArea::FrameBytes - 20) return nullptr;
  const uint8_t* record = area + offset;
  uint32_t w = Word(record + 8), h = Word(record + 12);
  if (w > info.width) w = info.width;
  if (h > info.height) h = info.height;
  if (w == 0 || h == 0 || w > rowWidth) return nullptr;
  uint32_t kind = 0;
  const bool palette = SisGetPalette(&kind) && kind;
  Source s{record + 20, 0, code == 0 ? 1u : code == 8 ? 8u : 2u,
           palette ? work + WorkArea::Palette : nullptr};
  s.rowBytes = s.bits == 8 ? rowWidth : s.bits == 2 ? (rowWidth + 3) / 4 : (rowWidth + 7) / 8;
  if (offset + 20 + SourceBytes(s, h) > WorkArea::FrameBytes) return nullptr;
  return ConvertFrame(s, w, h, 0, 0, Word(record + 16) * 100u, module);
}

// The renderer's on-demand decode of a later frame of an animated image.
ContentImageFrame* SisDecodeOnDemand(ContentImage* image, uint32_t index) {
  UrlModuleContext* module = UrlGetModule();
  const UrlWorkBufferUse held(module);
  auto* kept = static_cast<SisKept*>(image->decoderState);
  if (!module || module->workBufferSize < WorkArea::SisNeeds || !kept || !image->keptBody)
    return nullptr;
  const auto* body = static_cast<const uint8_t*>(image->keptBody);
  SisImageInfo info;
  if (!SisBegin(module->workBuffer, body, kept->length, &info)) return nullptr;
  image->frameCount = static_cast<uint16_t>(info.frameCount);
  return SisFrame(module->workBuffer, body, kept->length, info, index, ContentMod::Sis);
}

}  // namespace

Result NbmpContentProcess(UrlModuleContext* module, UrlLoad* load) {
  const UrlWorkBufferUse held(module);
  ContentBody* state;
  if (Result r = Collect(module, load, WorkArea::NbmpNeeds, kNbmpBodyRoom, ContentMod::Nbmp,
                         NbmpRowErr::NoMemory, NbmpRowErr::Malformed, &state);
      r != kOk || !state)
    return r;
  uint8_t* area = module->workBuffer + WorkArea::DecodeOutput;
  ClearNbmpArea(area);
  const int ok = state->size
                     ? NbmpDecodeMemory(state->bytes, state->size, area,
                                        WorkArea::DecodeOutputBytes)
                     : 0;
  ContentBodyRelease(load);
  if (!ok) return NbmpRowErr::Malformed;
  ContentImage* image = nullptr;
  if (Result r = NbmpImageOf(area, &image, ContentMod::Nbmp, NbmpRowErr::NoMemory,
                             NbmpRowErr::Malformed);
      r != kOk)
    return r;
  Finish(load, image);
  return kOk;
}

Result NbmpContentRelease(UrlModuleContext*, UrlLoad* load) {
  ContentBodyRelease(load);
  return kOk;
}

Result SisContentProcess(UrlModuleContext* module, UrlLoad* load) {
  const UrlWorkBufferUse held(module);
  ContentBody* state;
  if (Result r = Collect(module, load, WorkArea::SisNeeds, kSisBodyRoom, ContentMod::Sis,
                         SisRowErr::NoMemory, SisRowErr::Malformed, &state);
      r != kOk || !state)
    return r;
  uint8_t* work = module->workBuffer;
  ContentBody body = *state;
  SisImageInfo info;
  if (!body.size || !SisBegin(work, body.bytes, body.size, &info) || info.frameCount == 0 ||
      info.width > 0xFFFF || info.height > 0xFFFF) {
    ContentBodyRelease(load);
    return SisRowErr::Malformed;
  }
  ContentImage* image = ContentAnimationNew(info.width, info.height, ContentMod::Sis);
  if (!image) {
    ContentBodyRelease(load);
    return SisRowErr::NoMemory;
  }
  image->frameCount = static_cast<uint16_t>(info.frameCount);
  // A frame that cannot be decoded ends the decoding without an error.
  if (ContentImageFrame* frame = SisFrame(work, body.bytes, body.size, info, 0, ContentMod::Sis))
    AppendFrame(image, frame, false);
  if (info.frameCount > 1) {
    auto* kept = static_cast<SisKept*>(MemAllocZero(sizeof(SisKept), Use::Data, ContentMod::Sis));
    if (!kept) {
      ContentImageFree(image);
      ContentBodyRelease(load);
      return SisRowErr::NoMemory;
    }
    kept->length = body.size;
    image->decoderState = kept;
    image->keptBody = body.bytes;  // the image owns the body now
    image->decodeFrame = SisDecodeOnDemand;
    state->bytes = nullptr;
  } else {
    image->allFrames = 1;
  }
  ContentBodyRelease(load);
  Finish(load, image);
  return kOk;
}

Result SisContentRelease(UrlModuleContext*, UrlLoad* load) {
  ContentBodyRelease(load);
  return kOk;
}

// --- The adver element's image objects --------------------------------------
namespace {

// The text as 8-bit characters (each unit's low byte); null without memory.
char* Narrow(const char16_t* text, uint32_t* length) {
  uint32_t n = 0;
  while (text && text[n]) ++n;
  auto* out = static_cast<char*>(MemAlloc(n + 1, Use::Data, Mod::WtlHtml));
  if (!out) return nullptr;
  for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<char>(text[i] & 0xFF);
  out[n] = 0;
  *length = n;
  return out;
}

Result NbmpObject(HtmlImageObject* record, const char* text, ContentImage** out) {
  if (!record->workBuffer || record->workBufferSize < WorkArea::NbmpNeeds)
    return kHtmlObjectNoMemory;
  uint8_t* area = record->workBuffer + WorkArea::DecodeOutput;
  ClearNbmpArea(area);
  if (!NbmpDecodeText(text, area, WorkArea::DecodeOutputBytes)) return NbmpRowErr::Malformed;
  if (Result r = NbmpImageOf(area, out, ContentMod::Nbmp, NbmpRowErr::NoMemory,
                             NbmpRowErr::Malformed);
      r != kOk)
    return r;
  (*out)->loopCount = 0;  // the adver image plays without end
  return kOk;
}

Result SisObject(HtmlImageObject* record, const char* text, uint32_t length, ContentImage** out) {
  if (!record->workBuffer || record->workBufferSize < WorkArea::SisNeeds)
    return kHtmlObjectNoMemory;
  const uint32_t room = length / 4 * 3 + 3;
  auto* bytes = static_cast<uint8_t*>(MemAlloc(room, Use::Data, ContentMod::Sis));
  if (!bytes) return SisRowErr::NoMemory;
  uint32_t size = 0;
  LibcBase64Decode(text, length, bytes, &size);
  uint8_t* work = record->workBuffer;
  SisImageInfo info;
  Result r = kOk;
  if (!size || !SisBegin(work, bytes, size, &info) || info.frameCount == 0 ||
      info.width > 0xFFFF || info.height > 0xFFFF) {
    r = SisRowErr::Malformed;
  } else if (ContentImage* image = ContentAnimationNew(info.width, info.height, ContentMod::Sis);
             !image) {
    r = SisRowErr::NoMemory;
  } else {
    // Every frame at once; one that cannot be decoded stays without bands,
    // and memory running out ends the loop.
    for (uint32_t i = 0; i < info.frameCount; ++i) {
      ContentImageFrame* frame = SisFrame(work, bytes, size, info, i, ContentMod::Sis);
      if (!frame) {
        frame = ContentFrameNew(1, ContentMod::Sis);
        if (!frame) break;
      }
      AppendFrame(image, frame, true);
    }
    image->allFrames = 1;
    *out = image;
  }
  MemFree(&bytes);
  return r;
}

Result TextObject(HtmlImageObject* record, ContentImage** out) {
  PglSurface screen{};
  PglGetScreenSurface(&screen);
  const uint32_t w = screen.width > 12 ? screen.width : 12;
  const uint32_t h = screen.height > 2 ? screen.height : 2;
  ContentImage* image = ContentAnimationNew(w - 3, h - 2, Mod::Status);
  if (!image) return kStatusNoMemory;
  image->textImage = 1;
  image->text = record->text;  // the image takes the text over
  record->text = nullptr;
  uint32_t messages = 1;
  for (const char16_t* p = image->text; p && *p; ++p)
    if (*p == u'|') ++messages;
  for (uint32_t i = 0; i < messages; ++i) {
    ContentImageFrame* frame = ContentFrameNew(1, Mod::Status);
    if (!frame) {
      ContentImageFree(image);
      return kStatusNoMemory;
    }
    frame->width = static_cast<uint16_t>(w - 12);
    frame->height = static_cast<uint16_t>(h - 2);
    frame->delay = 20;
    frame->complete = 1;
    AppendFrame(image, frame, true);
  }
  image->allFrames = 1;
  *out = image;
  return kOk;
}

}  // namespace

Result HtmlImageObjectDecode(HtmlImageObject* record) {
  ContentImage* image = nullptr;
  Result r = kOk;
  if (record->sourceType == HtmlImageSource::Nbmp || record->sourceType == HtmlImageSource::Sis) {
    uint32_t length = 0;
    char* text = Narrow(record->text, &length);
    if (!text) {
      r = kHtmlObjectNoMemory;
    } else {
      r = record->sourceType == HtmlImageSource::Nbmp ? NbmpObject(record, text, &image)
                                                     : SisObject(record, text, length, &image);
      MemFree(&text);
    }
    MemFree(&record->text);
  } else {
    r = TextObject(record, &image);
    MemFree(&record->text);
  }
  if (r != kOk) {
    ContentImageFree(image);
    return r;
  }
  TskmanTask* status = TskmanFind(Mod::Status);
  if (!status) {
    // Nobody to keep it: the image must not leak.
    ContentImageFree(image);
    return 3;
  }
  TskmanPost(status, StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(image));
  return kOk;
}
