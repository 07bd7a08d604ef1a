// Movie streams: the records the movie parser builds in the player heap, the
// character dictionary, and the parser's entry points. Coordinates are in
// twentieths of a pixel; every multi-byte number in a movie is little-endian.
#pragma once

#include <cstdint>

struct AnimPlayer;

struct AnimRect {
  int32_t xmin, xmax, ymin, ymax;
};
void AnimRect_SetEmpty(AnimRect* rect);

struct AnimMatrix {
  float a, b, c, d;
  int32_t tx, ty;
};

// Order as stored: alpha, red, green, blue; each multiply then add.
struct AnimCxform {
  int32_t aMul, aAdd, rMul, rAdd, gMul, gAdd, bMul, bAdd;
};

enum AnimCharType : uint32_t {
  kAnimShape = 0,
  kAnimMorph = 1,
  kAnimText = 2,
  kAnimFont = 3,
  kAnimSound = 4,
  kAnimBitmap = 5,
  kAnimSprite = 6,
  kAnimButton = 7,
};

struct AnimChar {
  uint32_t id;
  uint32_t type;
  void* body;
};

struct AnimDictNode {
  AnimChar* character;
  AnimDictNode* next;
};

struct AnimActionRecord {
  uint32_t code;
  uint32_t offset;
  int32_t number1, number2, number3;
  char* string1;
  char* string2;
  AnimActionRecord* branch;
  AnimActionRecord* next;
  int32_t target;                  // branch target offset while the list is read
  AnimActionRecord* pendingNext;   // next branch waiting in the same bucket
};

struct AnimSoundInfo {
  uint16_t syncBits;
  uint16_t loopCount;
};

enum AnimCommandKind : uint32_t {
  kAnimPlace = 0,
  kAnimPlaceFlags = 1,
  kAnimRemove = 2,
  kAnimRemoveDepth = 3,
  kAnimActions = 4,
  kAnimStartSound = 5,
  kAnimBackground = 7,
  kAnimShowCaption = 8,
  kAnimHideCaption = 9,
  kAnimNoticeValue = 10,
  kAnimNotice = 11,
};

struct AnimFrameCommand {
  uint32_t kind;
  uint32_t flags;
  int32_t depth;
  int32_t ratio;
  int32_t clipDepth;
  char* name;
  AnimChar* character;
  AnimActionRecord* actions;
  AnimFrameCommand* next;
  AnimMatrix matrix;
  AnimCxform cxform;
  uint8_t color[3];
  AnimSoundInfo* soundInfo;
};

struct AnimDepthNode {
  int32_t depth;
  AnimDepthNode* next;
};

struct AnimFrame {
  char* label;
  AnimFrameCommand* first;
  AnimFrameCommand* last;
  AnimDepthNode* depths[16];
};

struct AnimClip;
struct AnimDisplayObject;
struct AnimMovie;

// The objects a clip shows, in depth order, and the area they changed since
// the last drawing (in the owner clip's movie units).
struct AnimDisplayList {
  uint32_t frame;  // the frame whose commands are being applied
  AnimClip* owner;
  AnimDisplayObject* first;
  AnimMovie* movie;
  AnimRect dirty;
};

// Clip flag-word bits.
inline constexpr uint32_t kAnimClipLoop = 1;
inline constexpr uint32_t kAnimClipBorrowed = 8;   // the frame table is another clip's
inline constexpr uint32_t kAnimClipStale = 16;     // position properties to be read again

// A clip: the movie root, a sprite instance or a loaded level. The parser
// fills the frame table (frame count + 1 records) and how far the frames
// have arrived; the timeline fields belong to the display list.
struct AnimClip {
  uint32_t frameCount;  // declared by the header or the sprite
  uint32_t framesLoaded;
  uint32_t framesAvailable;
  uint32_t framesClosed;
  uint32_t waiting;
  uint32_t flagWord;
  uint32_t currentFrame;
  AnimFrame* frames;
  uint32_t playing;
  uint32_t firstFramePending;
  uint32_t nextFrame;
  uint32_t changed;
  int32_t x, y;
  float xscale, yscale;
  int32_t alpha, visible, width, height, rotation;
  uint32_t loadedCounter;  // what the _framesloaded property reads
  AnimRect frameRect;
  char* name;  // full target path; empty for the movie root
  uint32_t extraMatrixSet;
  AnimMatrix extraMatrix;
  AnimDisplayList list;
  AnimMovie* movie;
  AnimClip* nextLevel;  // the next clip of the same chain
  // A clip that took over a movie loaded for it keeps its own frame table
  // here until it is freed.
  AnimFrame* ownFrames;
  uint32_t ownFrameCount;
  // The bounds walk that last measured the clip, the nesting it was
  // measured at, and what it found: a clip shown by several objects (objects
  // of one name share it) is measured once per walk, again only where it
  // shows nearer the root (where the nesting limit cuts less of it).
  // boundsDone is 0 while the clip is being measured.
  uint64_t boundsWalk;
  uint32_t boundsDone, boundsNesting;
  AnimRect bounds;
  // The update that last stepped the clip and the nesting its list was
  // updated at: one step a frame, however many objects show it, and its
  // tree updated from the copy nearest the root.
  uint64_t stepUpdate;
  uint32_t stepNesting;
  // The walk that last took the areas to redraw or dropped the caches here,
  // the nesting it took them at, and the areas it took (in the clip's
  // units): a clip shown by several objects is walked once, again only
  // where it shows nearer the root. treeDone is 0 while the clip is being
  // walked.
  uint64_t treeWalk;
  uint32_t treeDone, treeNesting;
  AnimRect treeDirty;
  // The matrix of the object that drew the clip last: of several objects
  // showing it, that one's buttons hold its place in their drawn matrices.
  AnimMatrix drawnAt;
};

// Frames that have arrived so far, at most the declared count.
inline uint32_t AnimClip_Available(const AnimClip* c) {
  return c->framesClosed < c->frameCount ? c->framesClosed : c->frameCount;
}

struct AnimGradientRecord {
  uint8_t ratio, r, g, b, a;
};

struct AnimBitmap;

// What a bitmap fill keeps between draws: its bitmap, found by id at the
// first draw, and the alpha table built when a colour transform meets a
// bitmap with an alpha plane.
struct AnimBitmapFill {
  uint32_t bitmapId;
  AnimDictNode* const* dictionary;
  AnimBitmap* bitmap;
  uint8_t* alphaTable;  // 256 entries
};

struct AnimFillStyle {
  uint32_t type;  // 0 solid, 0x10 linear, 0x12 radial, 0x40 / 0x41 bitmap, 128 nothing
  uint8_t r, g, b, a;
  AnimMatrix matrix;  // gradient or bitmap space to shape space
  uint32_t bitmapId;
  uint32_t count;
  AnimGradientRecord records[8];
  uint8_t* ramp;
  AnimBitmapFill* bitmapFill;  // made at the first draw
};

struct AnimLineStyle {
  uint32_t width;
  uint8_t r, g, b, a;
};

struct AnimStyleSet {
  AnimFillStyle* fills;
  uint32_t fillCount;
  AnimLineStyle* lines;
  uint32_t lineCount;
};

struct AnimShape {
  AnimChar header;
  AnimRect bounds;
  AnimStyleSet styles;
  uint8_t fillBits, lineBits;
  uint8_t* records;  // the shape records as they came
  uint32_t recordSize;
  uint32_t hasAlpha;  // colours in records' new style arrays carry an A byte
  AnimDictNode* const* dictionary;  // the movie's, for the bitmaps of bitmap fills
  uint32_t edgesNeeded;  // the most edges a draw of it has asked of the pool
};

struct AnimGlyph {
  uint8_t fillBits, lineBits;
  uint8_t* records;  // the glyph's shape records as they came
  uint32_t size;
};

struct AnimFont {
  AnimChar header;
  uint32_t flags;  // font with layout: its flag byte; font info: its flag byte
  char* name;
  uint32_t glyphCount;
  AnimGlyph* glyphs;
  uint16_t* codes;  // one per glyph once known (font with layout, font info)
};

struct AnimTextGlyph {
  uint32_t index;
  int32_t advance;
  uint32_t code;  // the character, from the font's code table
};

struct AnimTextRecord {
  uint32_t flags;  // the style header's flags, 0 for a plain glyph run
  AnimChar* font;
  uint32_t fontId;
  uint8_t r, g, b, a;
  int32_t x, y;
  uint32_t height;
  uint32_t glyphCount;
  AnimTextGlyph* glyphs;
  AnimTextRecord* next;
};

struct AnimText {
  AnimChar header;
  AnimRect bounds;
  AnimMatrix matrix;
  uint32_t glyphBits, advanceBits;
  AnimTextRecord* records;
};

struct AnimMorphGradientRecord {
  uint8_t startRatio, startColor[4];
  uint8_t endRatio, endColor[4];
};

struct AnimMorphFill {
  uint32_t type;  // as a shape's fill types
  uint8_t start[4], end[4];  // solid colours, red, green, blue, alpha
  AnimMatrix startMatrix, endMatrix;
  uint32_t bitmapId;
  uint32_t count;
  AnimMorphGradientRecord records[8];
  uint8_t* startRamp;
  uint8_t* endRamp;
};

struct AnimMorphLine {
  uint32_t startWidth, endWidth;
  uint8_t start[4], end[4];
};

struct AnimMorph {
  AnimChar header;
  AnimRect bounds, endBounds;
  AnimMorphFill* fills;
  uint32_t fillCount;
  AnimMorphLine* lines;
  uint32_t lineCount;
  uint8_t fillBits, lineBits;
  uint8_t* startEdges;  // as they came
  uint32_t startSize;
  uint8_t* endEdges;
  uint32_t endSize;
  AnimDictNode* const* dictionary;
  uint32_t edgesNeeded;  // the most edges a draw of it has asked of the pool
};

struct AnimSound {
  uint32_t id;
  uint32_t typeBit;
  uint8_t streamed;
  uint8_t codecClass;
  uint8_t stereo;
  uint8_t bytesPerSample;
  uint16_t sampleRate;
  uint8_t* data;
  uint32_t sampleCount;
  uint32_t dataSize;
  AnimChar header;
};

struct AnimButtonRecord {
  uint32_t states;  // 1 up, 2 over, 4 down, 8 hit area
  AnimChar* character;
  int32_t depth;
  AnimCxform* cxform;
  AnimButtonRecord* next;
  AnimMatrix matrix;
};

struct AnimCondition {
  uint32_t bits;
  AnimActionRecord* actions;
  AnimCondition* next;
};

struct AnimButton;

struct AnimEditText {
  uint32_t flags;
  int32_t fontId, fontHeight;
  uint32_t color;  // alpha, red, green, blue from the high byte down
  int32_t maxLength, alignment, leftMargin, rightMargin, indent, leading;
  int32_t firstFrame, lastFrame;
  uint8_t options[4];
  char* variable;
  char* text;
  AnimButton* owner;
  AnimRect bounds;
};

struct AnimButton {
  uint32_t menu;
  AnimButtonRecord* records;
  AnimActionRecord* actions;
  AnimCondition* conditions;
  AnimChar* stateSounds[3];
  AnimEditText* editText;
  AnimChar header;
};

struct AnimSprite {
  AnimChar header;
  AnimClip* clip;
};

struct AnimStream {
  AnimPlayer* player;
  uint32_t level;
  uint32_t errorFlag;
  uint32_t frameRate;
  uint32_t frameCount;
  uint32_t cursor;
  uint32_t totalLength;
  uint32_t available;
  uint32_t version;
  uint32_t reservedA, reservedB;
  uint32_t headerPending;
  uint32_t bitsLeft;
  uint32_t bitByte;
  uint32_t tagStart, tagEnd, tagLength;
  uint32_t limit;  // reads stop here: the tag's end or the data's end
  uint32_t glyphBits, advanceBits;
  const uint8_t* data;
  AnimStream* next;
  AnimClip* root;
  AnimClip* currentClip;
  AnimRect frameRect;
  AnimDictNode* dictionary;
  AnimActionRecord* pending[32];  // branches waiting for their targets
};

// Parse flags.
inline constexpr uint32_t kAnimHeaderRead = 1;
inline constexpr uint32_t kAnimNeedMore = 2;
inline constexpr uint32_t kAnimEnd = 4;
inline constexpr uint32_t kAnimFrameClosed = 8;
inline constexpr uint32_t kAnimTagFailed = 16;
inline constexpr uint32_t kAnimSoundRefused = 1024;

void AnimStream_Init(AnimStream* stream, AnimPlayer* player, uint32_t level);
// Frees everything the stream holds (dictionary, root clip); the stream stays reusable.
void AnimStream_Free(AnimStream* stream);
uint32_t AnimMovie_ReadHeader(AnimStream* stream, const uint8_t* data, uint32_t available);
uint32_t AnimParse_Tags(AnimStream* stream, uint32_t flags);

uint32_t AnimParse_ReadU8(AnimStream* s);
uint32_t AnimParse_ReadU16(AnimStream* s);
uint32_t AnimParse_ReadU32(AnimStream* s);
// The text at the cursor (ends at a NUL or the read limit) copied into the
// player heap; null when the copy cannot be allocated.
char* AnimParse_ReadString(AnimStream* s);
void AnimParse_AlignBits(AnimStream* s);
uint32_t AnimParse_ReadBits(AnimStream* s, uint32_t n);
int32_t AnimParse_ReadSBits(AnimStream* s, uint32_t n);
void AnimParse_ReadRect(AnimStream* s, AnimRect* rect);
void AnimParse_ReadMatrix(AnimStream* s, AnimMatrix* m);
void AnimParse_ReadCxform(AnimStream* s, AnimCxform* cx, bool alpha);
// An action list up to its end code, branches resolved; null when empty.
AnimActionRecord* AnimParse_ReadActions(AnimStream* s);

AnimClip* AnimClip_Create(AnimPlayer* player, uint32_t frameCount);
// A sprite character with its clip for that many frames; false when the
// clip could not be made (the character is then the caller's to free).
bool AnimSprite_Init(AnimSprite* sprite, AnimPlayer* player, uint32_t id, uint32_t frames);
void AnimClip_Free(AnimPlayer* player, AnimClip* clip);
void AnimClip_Rewind(AnimClip* clip);
void AnimActions_Free(AnimPlayer* player, AnimActionRecord* list);

// The dictionary.
void AnimChar_InitHeader(AnimChar* header, uint32_t type, uint32_t id, void* body);
void AnimDict_Add(AnimStream* stream, AnimChar* header);
AnimChar* AnimDict_Find(AnimDictNode* head, uint32_t id);
void AnimDict_FreeAll(AnimPlayer* player, AnimDictNode** head);
void AnimChar_Free(AnimPlayer* player, AnimChar* header);
void AnimChar_GetBounds(const AnimChar* header, AnimRect* out);

// Tag readers of the characters kept in the dictionary.
uint32_t AnimSound_ReadTag(AnimStream* s);
// Starts a sound (or, with sync bit 2, stops it) through the host's hooks;
// stops every sound.
void AnimSound_Start(AnimPlayer* player, const AnimSound* sound, const AnimSoundInfo* info);
void AnimSound_StopAll(AnimPlayer* player);
void AnimButton_ReadTag(AnimStream* s, bool withConditions);
void AnimButton_ReadCxformTag(AnimStream* s);
void AnimEditText_ReadTag(AnimStream* s);
// Buttons: records kept in tag order, the pending action list of tag 7 and
// the condition entries of tag 34 (pushed at the front, null list allowed;
// false when the entry could not be made, the list then freed).
void AnimButton_AppendRecord(AnimButton* button, AnimButtonRecord* record);
void AnimButton_AppendAction(AnimButton* button, AnimActionRecord* list);
bool AnimButton_AddCondition(AnimPlayer* player, AnimButton* button, uint32_t bits, AnimActionRecord* list);
// The first record whose states share a bit with the state, or none.
const AnimButtonRecord* AnimButton_SelectRecord(const AnimButton* button, uint32_t state);
// A field's rectangle; else the records of the state with a character, each
// under its matrix, or the last record with a character when none matches.
bool AnimButton_GetBounds(const AnimButton* button, uint32_t state, AnimRect* out);
uint32_t AnimButton_TransitionBits(const AnimButton* button, uint32_t newState, uint32_t oldState);
const AnimActionRecord* AnimButton_TransitionActions(const AnimButton* button, uint32_t newState,
                                                     uint32_t oldState);

// Matrix helpers.
void AnimMatrix_SetIdentity(AnimMatrix* m);
void AnimMatrix_Concat(AnimMatrix* out, const AnimMatrix* outer, const AnimMatrix* inner);
void AnimMatrix_Invert(AnimMatrix* out, const AnimMatrix* m);
void AnimMatrix_Apply(const AnimMatrix* m, int32_t x, int32_t y, int32_t* ox, int32_t* oy);
// One coordinate of the mapped point, truncated to an integer.
int32_t AnimMatrix_ApplyX(const AnimMatrix* m, int32_t x, int32_t y);
int32_t AnimMatrix_ApplyY(const AnimMatrix* m, int32_t x, int32_t y);
uint32_t AnimISqrt(uint32_t v);

// QVZ packages.
inline constexpr uint32_t kAnimPackageEntries = 10;
inline constexpr uint32_t kAnimPackageName = 52;
struct AnimPackageEntry {
  uint32_t size;
  uint32_t offset;
  const uint8_t* data;
  char name[kAnimPackageName];
};
struct AnimPackage {
  AnimPackageEntry entries[kAnimPackageEntries];
  uint32_t count;
  char fileName[kAnimPackageName];
};
// Fills the package table; returns the first member's data (its size in
// *size), or null when the package is refused or has no members.
const uint8_t* AnimPackage_Unpack(AnimPackage* package, const uint8_t* data, uint32_t length, uint32_t* size);
const AnimPackageEntry* AnimPackage_Find(const AnimPackage* package, const char* name);
