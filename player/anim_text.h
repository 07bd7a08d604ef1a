// Fonts, static texts and the caption ticker. A font holds glyph shapes; a
// text holds records that pick a font, a height, a position and a colour and
// list glyphs with their advances, drawn through the shape renderer in the
// renderer's text colour. The caption ticker hands the host one line of
// handset text per frame, growing, scrolling or blinking.
#pragma once

#include <cstdint>

#include "player/anim_stream.h"

struct AnimPlayer;
struct AnimRaster;

// Header, no glyphs, no code table, no name.
void AnimFont_Init(AnimFont* font, uint32_t id);
// Replaces the name with a heap copy of name; false when the copy could not
// be had (the old name then stays).
bool AnimFont_SetName(AnimPlayer* p, AnimFont* font, const char* name);
// Frees the code table, the name, the glyphs and the font itself.
void AnimFont_Free(AnimPlayer* p, AnimFont* font);

// Header, empty bounds, identity matrix, no records.
void AnimText_Init(AnimText* text, uint32_t id);
// Appends a record: one that names no font takes the font and its height
// of the last earlier record that did; every glyph then gets its character
// code from the font's code table (0 when the font has none for it).
void AnimText_AppendRecord(AnimText* text, AnimTextRecord* record);
void AnimText_FreeRecords(AnimPlayer* p, AnimText* text);
// Draws the text's glyphs under parent x the text's matrix; style records
// set the pen and the renderer's text colour (through the colour transform
// when one is given). Returns the shape renderer's result.
uint32_t AnimText_Draw(AnimRaster* r, const AnimText* text, const AnimMatrix* parent, const AnimCxform* cxform);

// R, G, B, A bytes through a colour transform: (m x c + o x 256) >> 8,
// clamped to 0..255.
void AnimCxform_ApplyColour(const AnimCxform* cxform, const uint8_t* in, uint8_t* out);

// Caption style flags.
inline constexpr uint32_t kAnimCaptionBlink = 1;
inline constexpr uint32_t kAnimCaptionRedrawsView = 2;  // style 0x86 in place of 0x286
inline constexpr uint32_t kAnimCaptionStyle20 = 4;      // adds 0x20 to the style
inline constexpr uint32_t kAnimCaptionScroll = 8;

// One line as the host receives it.
struct AnimCaptionLine {
  uint32_t first;  // 8000 while the line is whole or growing, else 0
  uint32_t style;
  int32_t left, top, right, bottom;
  uint32_t size;
  uint32_t textColour, backgroundColour;
  uint32_t bytes;  // including the terminator; 0 for the empty text
  uint32_t mode;   // 0 scrolling (or blank), 1 growing, 2 static
  const char* text;
};

struct AnimCaption {
  char* text;    // the player's copy, or none while no caption runs
  char* window;  // the visible part with its terminator, as sent
  uint32_t length;
  uint32_t textColour, backgroundColour, flags;
  int32_t left, top, right, bottom;
  uint32_t size;
  int32_t startFrame, endFrame;
  uint32_t span, step, tick;
  uint32_t windowStart, windowEnd;  // byte offsets
  uint32_t sent;                    // lines handed to the host so far
  AnimCaptionLine last;             // the last of them
};

// Results of starting a caption.
inline constexpr uint32_t kAnimCaptionStarted = 0;
inline constexpr uint32_t kAnimCaptionRefused = 1;  // an empty frame range
inline constexpr uint32_t kAnimCaptionNoMemory = 2;

// Starts the ticker over the frame buffer's size: the rectangle is given in
// percent of it. A range whose end lies before its start is refused.
uint32_t AnimCaption_Start(AnimPlayer* p, const char* text, int32_t leftPercent, int32_t topPercent,
                           int32_t rightPercent, int32_t bottomPercent, uint32_t size, int32_t startFrame,
                           int32_t endFrame, uint32_t textColour, uint32_t backgroundColour, uint32_t flags);
// The same with the rectangle in pixels of the frame buffer (the movie's
// "caption" request places its line so).
uint32_t AnimCaption_StartAt(AnimPlayer* p, const char* text, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, uint32_t size, int32_t startFrame, int32_t endFrame,
                             uint32_t textColour, uint32_t backgroundColour, uint32_t flags);
// Starts the ticker from a caption definition: an edit-text field whose
// bounds give the rectangle in percent, its font height the size, its first
// and last frame the range, its colour the text colour, its four option bytes
// (high byte first) the background and its flags the style flags.
uint32_t AnimCaption_StartDefinition(AnimPlayer* p, const AnimEditText* definition);
// One shown frame while a caption runs.
void AnimCaption_Tick(AnimPlayer* p);
void AnimCaption_Stop(AnimPlayer* p);
// Frees the caption's text at the movie's end, telling no one.
void AnimCaption_Free(AnimPlayer* p);

// The host's; nothing in this system.
void AnimHook_Caption(AnimPlayer* p, const AnimCaptionLine* line);
