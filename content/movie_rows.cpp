// The movie rows. Both collect the whole body first. The playing row opens
// the player over the URL module's work buffer, takes its frames one by one
// into bands of RGB565 and closes it again within the same process call, so
// nothing of the player outlives the call and the work buffer is free again
// for the next row.
#include "content/movie_rows.h"

#include "content/body_collect.h"
#include "content/collect.h"
#include "content/content_rows.h"
#include "content/decode_feed.h"
#include "host/platform/handset.h"
#include "host/platform/shell.h"
#include "kernel/mem.h"
#include "player/anim_player.h"

namespace {

// The largest movie body either row takes.
constexpr uint32_t kQvxRoom = 1u << 20;

// The player's 5-5-5 pixel as the page's RGB565.
uint16_t Rgb565Of(uint16_t p) {
  return ContentRgb565((p & 0x7C00u) >> 7, (p & 0x3E0u) >> 2, (p & 0x1Fu) * 8);
}

// One frame of the frame buffer in bands; null without memory.
ContentImageFrame* FrameOf(const uint16_t* pixels, uint32_t width, uint32_t height) {
  const uint32_t rowsPerBand = ContentRowsPerBand(width);
  ContentImageFrame* frame = ContentFrameNew(ContentBandTotal(width, height), QvxCode::Module);
  if (!frame) return nullptr;
  frame->width = static_cast<uint16_t>(width);
  frame->height = static_cast<uint16_t>(height);
  frame->delay = kQvxFrameDelayMs;
  for (uint32_t y0 = 0; y0 < height; y0 += rowsPerBand) {
    const uint32_t rows = height - y0 < rowsPerBand ? height - y0 : rowsPerBand;
    PglSurface* band = ContentBandNew(width, rows, width, false, QvxCode::Module);
    if (!band) {
      ContentFrameFree(frame);
      return nullptr;
    }
    auto* out = reinterpret_cast<uint16_t*>(PglPixels(band));
    const uint16_t* in = pixels + uint64_t{y0} * width;
    for (uint32_t i = 0; i < rows * width; ++i) out[i] = Rgb565Of(in[i]);
    frame->bands[frame->bandCount++] = band;
  }
  frame->complete = 1;
  return frame;
}

// The image has all its frames once the movie's root clip stands halted at
// its last frame without looping and no event waits (its children may still
// move, but nothing will restart the timeline without the user).
bool Ended(const AnimPlayer* player) {
  const AnimMovie* m = player->movie;
  const AnimClip* root = m ? AnimMovie_Root(const_cast<AnimMovie*>(m)) : nullptr;
  if (!root || root->playing || (root->flagWord & kAnimClipLoop) || m->input.eventPending) return false;
  const uint32_t available = AnimClip_Available(root);
  return available == root->frameCount && root->currentFrame + 1 >= available;
}

// Plays the movie into the image: the first frame at open, then one a step
// until the player cannot go on, the movie has ended or the frames are all
// made. The image plays once when the movie ended within them.
Result Render(UrlModuleContext* module, const ContentBody* body, ContentImage* image) {
  const uint32_t side = image->width;
  auto* pixels = static_cast<uint16_t*>(MemAllocZero(2u * side * side, Use::Data, QvxCode::Module));
  auto* player = static_cast<AnimPlayer*>(MemAllocZero(sizeof(AnimPlayer), Use::Data, QvxCode::Module));
  if (!pixels || !player) {
    MemFree(&pixels);
    MemFree(&player);
    return QvxCode::NoMemory;
  }
  AnimPlayer_Init(player);
  int32_t width = static_cast<int32_t>(side), height = static_cast<int32_t>(side);
  if (AnimHost_Open(player, body->bytes, pixels, module->workBuffer, body->size, &width, &height) == 0) {
    ContentImageFrame** tail = &image->firstFrame;
    for (uint32_t made = 0; made < kQvxMaxFrames; ++made) {
      // The player may have changed the size it was given; the image keeps its own.
      const uint32_t w = width > 0 && static_cast<uint32_t>(width) <= side ? width : side;
      const uint32_t h = height > 0 && static_cast<uint32_t>(height) <= side ? height : side;
      ContentImageFrame* frame = FrameOf(pixels, w, h);
      if (!frame) break;  // the frames made so far stay
      *tail = frame;
      tail = &frame->next;
      ++image->frameCount;
      if (made + 1 == kQvxMaxFrames) break;
      if (Ended(player)) {
        image->loopCount = 1;
        break;
      }
      if (AnimHost_Step(player) != 0) break;
    }
  }
  AnimHost_Close(player);
  MemFree(&player);
  MemFree(&pixels);
  image->allFrames = 1;
  return kOk;
}

// The whole body: *whole is null while it is still coming.
Result Collect(UrlLoad* load, ContentBody** whole) {
  *whole = nullptr;
  ContentBody* body = ContentBodyOfLoad(load, QvxCode::Module);
  if (!body) return QvxCode::NoMemory;
  ContentBodyState state = ContentBodyState::Collecting;
  const Result r = ContentBodyCollect(body, load, kQvxRoom, QvxCode::Module, QvxCode::NoMemory,
                                      QvxCode::BadData, &state);
  if (r == kOk && state == ContentBodyState::Complete) *whole = body;
  return r;
}

// A body cut short by the end of the data.
bool Cut(const UrlLoad* load, const ContentBody* body) {
  return load->announcedLength && body->size != load->announcedLength;
}

Result EndLoad(UrlLoad* load, Result r) {
  ContentBodyRelease(load);
  load->events |= UrlEvent::Complete;
  return r;
}

}  // namespace

Result QvxContentProcess(UrlModuleContext* module, UrlLoad* load) {
  const UrlWorkBufferUse held(module);
  if (!module || module->workBufferSize < kUrlWorkBufferSize) return QvxCode::NoMemory;
  ContentBody* body;
  Result r = Collect(load, &body);
  if (r != kOk) return EndLoad(load, r);
  if (!body) return kOk;
  // A body cut short ends the load without a picture.
  if (body->size && !Cut(load, body)) {
    const ShellScreen& screen = ShellGetScreen();
    int32_t side = screen.width < screen.height ? screen.width : screen.height;
    if (side <= 0) side = 1;
    ContentImage* image = ContentAnimationNew(side, side, QvxCode::Module);
    if (!image) return EndLoad(load, QvxCode::NoMemory);
    UrlLoadAddOutput(load, reinterpret_cast<QueueNode*>(image));
    load->outputFree = ContentOutputFree;
    load->events |= UrlEvent::OutputAdded;
    r = Render(module, body, image);
  }
  return EndLoad(load, r);
}

Result QvxContentRelease(UrlModuleContext*, UrlLoad* load) {
  ContentBodyRelease(load);
  return kOk;
}

Result QvxSaveContentProcess(UrlModuleContext*, UrlLoad* load) {
  ContentBody* body;
  const Result r = Collect(load, &body);
  if (r != kOk) return EndLoad(load, r);
  if (!body) return kOk;
  if (body->size == 0) return EndLoad(load, QvxCode::BadData);
  if (Cut(load, body)) return EndLoad(load, kOk);
  return EndLoad(load, ShellSaveMovieFile(body->bytes, body->size) == 0 ? QvxCode::Saved : QvxCode::BadData);
}

Result QvxSaveContentRelease(UrlModuleContext*, UrlLoad* load) {
  ContentBodyRelease(load);
  return kOk;
}
