#include "layout/render_anim.h"

#include "kernel/mem.h"

namespace {

bool OnDemand(const ContentImage* image) { return image->decodeFrame && image->keptBody; }

// Back to the first frame, unless the plays are done.
ContentImageFrame* Wrap(RenderAnimReader* reader) {
  ContentImage* image = reader->image;
  if (image->playCounter < 0xFFFF) ++image->playCounter;
  if (image->allFrames && image->loopCount && image->playCounter >= image->loopCount) {
    reader->stopped = 1;
    return reader->frame;
  }
  if (image->currentFrame) {
    RenderFreeFrame(image->currentFrame);
    image->currentFrame = nullptr;
  }
  reader->frame = image->firstFrame;
  reader->index = 0;
  return reader->frame;
}

}  // namespace

bool RenderAnimStart(RenderAnimReader* reader, ContentImage* image) {
  *reader = RenderAnimReader{};
  reader->image = image;
  if (!image || image->kind != ContentKind::Animation) return false;
  reader->frame = image->firstFrame;
  image->playCounter = 0;
  const bool single = image->allFrames && image->frameCount <= 1;
  reader->animated = !single && (image->firstFrame || OnDemand(image));
  return reader->animated;
}

ContentImageFrame* RenderAnimStep(RenderAnimReader* reader) {
  ContentImage* image = reader->image;
  if (!reader->animated || reader->stopped) return reader->frame;
  if (OnDemand(image)) {
    const uint32_t next = reader->index + 1;
    if (next < image->frameCount) {
      // A frame that cannot be decoded ends the play early.
      if (ContentImageFrame* frame = image->decodeFrame(image, next)) {
        RenderFreeFrame(image->currentFrame);
        image->currentFrame = frame;
        reader->frame = frame;
        reader->index = next;
        return frame;
      }
    }
    return Wrap(reader);
  }
  if (reader->frame && reader->frame->next) {
    reader->frame = reader->frame->next;
    ++reader->index;
    return reader->frame;
  }
  return Wrap(reader);
}

void RenderAnimEnd(RenderAnimReader* reader) {
  if (!reader->image) return;
  RenderFreeFrame(reader->image->currentFrame);
  reader->image->currentFrame = nullptr;
  reader->frame = reader->image->firstFrame;
  reader->stopped = 1;
}

void RenderFreeFrame(ContentImageFrame* frame) {
  if (!frame) return;
  for (uint16_t i = 0; i < frame->bandCount; ++i) MemFreeRaw(frame->bands[i]);
  MemFree(&frame);
}
