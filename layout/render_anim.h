// The reader that steps an animated page image (kind 17) frame by frame.
//
// An image whose body is kept decodes its frames on demand: for frame 1 up
// to the frame count less one the reader asks the image's frame-decode
// operation, frees the frame decoded before and keeps the new one as the
// image's current decoded frame; after the last it goes back to the first
// frame. Any other image is read along its frames' next links. Each return
// to the first frame counts a play (the image's play counter); a complete
// image stops on its last frame once the count reaches its loop count (0
// never stops). A complete image of one frame is not animated.
#pragma once
#include <cstdint>

#include "graphics/image.h"

struct RenderAnimReader {
  ContentImage* image;
  ContentImageFrame* frame;  // the frame shown now
  uint32_t index;            // its number
  uint8_t animated;
  uint8_t stopped;
};

// Starts at the first frame with the play counter at 0; false when the
// image is not animated (the reader then stays on its first frame).
bool RenderAnimStart(RenderAnimReader* reader, ContentImage* image);
// The next frame to show (the shown one again once stopped or when the
// image is not animated); null when the image has no frame yet.
ContentImageFrame* RenderAnimStep(RenderAnimReader* reader);
// Frees the current decoded frame the reader kept in the image.
void RenderAnimEnd(RenderAnimReader* reader);
// Frees a frame and its bands.
void RenderFreeFrame(ContentImageFrame* frame);
