// What the animation stream decoder and its frame renderer share.
#pragma once
#include <cstdint>

#include "graphics/blit.h"
#include "graphics/saf.h"
#include "graphics/sis_codec.h"

struct SafFrameSlot {
  uint32_t position;  // of the frame block's tag byte
  uint32_t length;    // body + 3
};

struct SafJob {
  uintptr_t id;
  SafClient client;
  uintptr_t user;
  uint32_t active, probe, live;
  uint32_t state, after;
  uint32_t offset;
  uint32_t totalLength;
  uint32_t tag, bodyLength, tagPosition;
  uint8_t block[kSafBlockBytes];
  uint32_t lastCount;  // bytes the last read brought
  SafReadRequest request;
  SafYield yield;
  uint32_t objectIndex, dataStart, dataLength;
  uint32_t objectSeen;  // an object block was read: no info may follow
  uint32_t infoSeen;    // the info block was read: a second one is refused
  uint32_t skip;
  SisInflateStream inflate;
  SisAdaptiveResult adaptive;
  uint8_t* frameDestination;
  uint32_t frameIndex;
  // Info records.
  SafInfo info;
  uint32_t headerSeen, animationSeen;
  uint32_t sizeHint, header5, header6, animation4, paletteCount;
  uint32_t paletteKind;
  uint8_t palette[768];
  SafFrameSlot frames[kSafMaxFrames];
  uint32_t frameSlots;
  SafObject objects[kSafMaxObjects];
  // The frame being rendered.
  uint8_t* pixelPlane;
  uint8_t* maskPlane;
  uint32_t planeBytes;
  uint32_t commandCount, commandIndex, commandPos;
  uint32_t background;
};

extern SafJob gSaf;

// Frame rendering, steps of state 16 and 17.
int32_t SafBeginFrame(const uint8_t* block, uint8_t* destination);
int32_t SafRenderStep();
