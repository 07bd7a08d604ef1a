// The player's model of a loaded movie: the movie object with its levels,
// the view onto the host's frame buffer, the frame clock's control entry and
// the redraw pass; the display lists of clips with their placed objects, the
// one-frame step of a clip and the replay of frames for a jump; the action
// interpreter; and the buttons with their focus and events.
//
// Units: movie coordinates in twentieths of a pixel, the view and the
// rasterizer in 1/32 pixel, the frame buffer and host rectangles in pixels.
#pragma once

#include <cstdint>

#include "player/anim_raster.h"
#include "player/anim_shape.h"
#include "player/anim_stream.h"
#include "player/anim_value.h"

struct AnimPlayer;

// An event handed to the movie: pixels, a kind and a key.
struct AnimEvent {
  int32_t x, y;
  uint32_t kind, key;
};

inline constexpr uint32_t kAnimEventMove = 1;
inline constexpr uint32_t kAnimEventPress = 2;
inline constexpr uint32_t kAnimEventRelease = 3;
inline constexpr uint32_t kAnimEventKey = 5;
inline constexpr uint32_t kAnimEventKeyCondition = 6;
inline constexpr uint32_t kAnimEventKeyRelease = 7;

inline constexpr uint32_t kAnimKeyUp = 12, kAnimKeyDown = 13, kAnimKeyLeft = 14, kAnimKeyRight = 15,
                          kAnimKeySelect = 16;

struct AnimDisplayObject {
  uint32_t placedFrame;
  int32_t depth;
  int32_t ratio;
  uint32_t buttonState, previousButtonState;  // 1 up, 2 over, 4 down
  char* name;  // full path of a sprite, generated name of a button; else null
  AnimChar* character;
  AnimMatrix matrix;
  AnimCxform* cxform;  // owned, or null
  AnimDisplayObject* next;
  AnimDisplayList* list;
  AnimClip* clip;  // a sprite's instance clip
  AnimMatrix drawnMatrix;  // the matrix of the last drawing, for buttons (and sprites' copies)
  AnimVariable* boundVariable;  // the variable an edit-text field shows
  uint32_t changesThisFrame;    // its depth is touched by its clip's frame: drawn from its records
  AnimShapeCache cache;         // the renderer's cache words
};

// The pointer, the focus and the event saved for the next turn; shared by
// every display list of the movie.
struct AnimInputState {
  uint32_t needsHitTest;
  uint32_t pressed;
  uint32_t pointerMode;
  int32_t pointerX, pointerY;  // 1/32 pixel
  uint32_t focusKind;
  AnimDisplayObject* focus;
  uint32_t rememberedChar;
  uint32_t eventPending;
  AnimEvent pendingEvent;
};

struct AnimView {
  int32_t frameWidth, frameHeight;  // pixels
  int32_t movieWidth, movieHeight;  // twentieths
  uint32_t zoom;
  AnimMatrix matrix;  // twentieths to 1/32 pixel
  int32_t visLeft, visRight, visTop, visBottom;  // 1/32 pixel
};

struct AnimRestart {
  uint32_t frame;
  AnimClip* clip;
  AnimRestart* next;
};

// What the action interpreter remembers between runs for the host side.
struct AnimActionState {
  AnimClip* loadClip;
  int32_t loadFrame;
  uint32_t loadLevel;
  char* loadTarget;
  uint32_t networkPending;
  uint32_t saveFlag;
  uint32_t levelCounter;  // numbers of levels loaded into clips, from 256
  uint32_t runningRemoved;
  AnimClip* runningClip;
  uint32_t runDepth;       // nested runs (frame actions run by a jump inside a run)
  uint32_t toggleQuality;  // asked for inside a run; applied when the outer run ends
};

// One draw of a kept "/Background" sprite: a shape, morph or text at the
// matrix and colour transform it was drawn with.
struct AnimKeptDraw {
  const AnimChar* character;
  AnimMatrix matrix;
  AnimCxform cxform;
  uint32_t hasCxform;
  int32_t ratio;
};

// The draws a "/Background" sprite is kept by come in chunks of a fixed
// size (under a kilobyte), linked in the order drawn: keeping many takes no
// block larger than a chunk, whatever holes the heap has. Where the heap
// has no hole for a whole chunk, a chunk holds fewer draws (down to one):
// keeping fails only where the heap has no hole even for one draw.
inline constexpr uint32_t kAnimKeptChunkDraws = 12;
struct AnimKeptChunk {
  AnimKeptChunk* next;
  uint32_t count;
  uint32_t capacity;  // kAnimKeptChunkDraws, or fewer for a chunk cut short
  AnimKeptDraw draws[kAnimKeptChunkDraws];
};

// A "/Background" sprite by name, with the draws its first drawing made:
// it shows so until it is removed, replaced, moved or rewound away, or the
// view or quality changes.
struct AnimKeptSprite {
  AnimKeptSprite* next;
  char* name;
  AnimKeptChunk* first;
  AnimKeptChunk* last;
};

// A movie read for a level: its bytes, and the block to free afterwards.
struct AnimLoaded {
  const uint8_t* data;
  void* owned;
};

struct AnimMovie {
  AnimPlayer* player;
  uint32_t fullRedraw;
  uint32_t frameInterval;  // milliseconds
  AnimStream* levels;      // ordered by level number; 255 marks one for removal
  AnimStream* currentLevel;
  AnimInputState input;
  AnimView view;
  AnimRaster raster;
  uint32_t suppress;  // one-shot: the next control call only clears it
  uint32_t startTime;
  uint32_t randomSeed;
  AnimRestart* restarts;
  int32_t redrawLeft, redrawTop, redrawRight, redrawBottom;  // host rectangle, pixels
  // The "/Background" sprites as first drawn, in the order the drawing walk
  // meets them, and the colour under them; the background picture (when
  // the heap has room for it) is these drawn over that colour.
  AnimKeptSprite* kept;
  uint16_t keptColour;
  // What the kept sprites' first whole drawing took of the step's work,
  // once it is known: every clearing costs that much.
  uint16_t keptWorkKnown;
  uint32_t keptWork;
  // The redraw pass: the kept sprite it met last, the one whose drawing it
  // is keeping now (a "/Background" sprite inside is part of it), and
  // whether it kept a new one (every level is then drawn again over it).
  AnimKeptSprite* keptMet;
  AnimKeptSprite* keeping;
  uint32_t keptAdded;
  // A draw of this pass lost edges for want of pool room that others' kept
  // edges held: the pass is drawn again.
  uint32_t edgesLost;
  // Objects met by the bounds walks, by the drawing walks, and by the walks
  // that take the areas to redraw and drop the edge caches, all walks
  // together: how much work they took.
  uint32_t boundsVisits, drawVisits, treeVisits;
  // Draws from the records (each may begin a cache, whether or not it
  // does) so far, and their count when the movie last had every cache let
  // go.
  uint32_t shapesDrawn, drawsLetGo;
  // Walks of the tree (bounds walks too) are numbered so that each visits a
  // clip once where that is all it needs.
  uint64_t treeWalks;
  // The update of the display lists under way, numbered as the walks are,
  // so that each steps a clip once.
  uint64_t updates;
  AnimActionState action;
  // Installed by a successful load. The loader reads a named movie and
  // answers its length, or -1 while it is not whole (or not there); the
  // feeder parses data into a level and answers the parse flags, 0 when
  // refused, -1 when more data is needed (-2 while a download is awaited).
  int32_t (*loader)(AnimMovie* m, const char* name, AnimLoaded* out);
  int32_t (*feeder)(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length);
};

inline constexpr uint32_t kAnimLevelRemoved = 255;

// Movie object.
AnimMovie* AnimMovie_Create(AnimPlayer* p);
void AnimMovie_Destroy(AnimMovie* m);
// Frees the root clip the movie owns (level 0's) and forgets it.
void AnimClip_Reset(AnimMovie* m);
uint32_t AnimMovie_Feed(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length);
AnimStream* AnimMovie_Level(AnimMovie* m, uint32_t level);
AnimClip* AnimMovie_Root(AnimMovie* m);
// flags: high nibble a play command (16 stop, 32 play, 48 rewind, 64 step),
// 2 delivers the event, 1 advances one frame. 1 when something changed.
uint32_t AnimMovie_Control(AnimMovie* m, uint32_t flags, const AnimEvent* event);
uint32_t AnimMovie_AdvanceFrame(AnimMovie* m);
uint32_t AnimMovie_DeliverEvent(AnimMovie* m, const AnimEvent* event);
void AnimMovie_Redraw(AnimMovie* m);
void AnimMovie_InvalidateAll(AnimMovie* m);
uint32_t AnimMovie_ReplaceLevel(AnimMovie* m, bool removeOnly, uint32_t level, const uint8_t* data,
                                uint32_t length);
uint32_t AnimMovie_AddLevel(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length, const char* name);
// 1 loaded, 0 refused, -1 not available yet (a pending load).
int32_t AnimMovie_LoadLevel(AnimMovie* m, const char* name, uint32_t level);
// Levels a movie may be loaded into by number: 255 marks removal, and the
// numbers above belong to movies loaded for clips.
inline bool AnimLevel_IsTarget(uint32_t level) { return level < 255; }

// View.
bool AnimView_Fit(AnimMovie* m, int32_t movieWidth, int32_t movieHeight);
void AnimView_SetZoom(AnimMovie* m, uint32_t zoom);
void AnimView_Pan(AnimMovie* m, int32_t dx, int32_t dy);
// False when the heap could not hold the mode's tables: the movie keeps
// playing in the mode it had.
bool AnimView_SetQuality(AnimMovie* m, bool on);

// Rectangles (empty: xmin = ymin = INT32_MAX, xmax = ymax = INT32_MIN).
bool AnimRect_IsEmpty(const AnimRect* r);
void AnimRect_Add(AnimRect* r, const AnimRect* other);
void AnimRect_Transform(AnimRect* out, const AnimMatrix* m, const AnimRect* in);

// Display lists and clips.
void AnimDisplay_Place(AnimDisplayList* list, AnimChar* character, int32_t depth, const AnimMatrix* matrix,
                       const AnimCxform* cxform, const char* name, int32_t ratio);
AnimChar* AnimDisplay_Remove(AnimDisplayList* list, AnimChar* character, int32_t depth);
void AnimDisplay_RemoveTimeline(AnimDisplayList* list, bool all);
void AnimDisplay_AddDirty(AnimDisplayList* list, const AnimDisplayObject* object);
AnimDisplayObject* AnimDisplay_FindByName(AnimDisplayList* list, const char* name);
// Drops the renderer caches of every object of the list, nested clips included.
void AnimDisplay_Invalidate(AnimDisplayList* list);
// The same for every level, the clips of each level's chain included.
void AnimDisplay_InvalidateMovie(AnimMovie* m);
// Lets every kept "/Background" sprite and the picture go: the next
// drawing draws the sprites again (they were drawn under the view as it
// stood).
void AnimDisplay_DropBackground(AnimMovie* m);
// Lets the picture go, not the kept sprites: it is made again from them
// (under the view as it then stands) when the frame is next cleared.
void AnimDisplay_DropPicture(AnimMovie* m);
// Gives the picture's buffer back to the heap (unless the picture is being
// drawn); it is taken again when the frame is next cleared with room left.
// True when there was one to give.
bool AnimDisplay_FreePicture(AnimMovie* m);
// True while the kept sprites are drawn into the picture's buffer.
bool AnimDisplay_DrawingPicture(const AnimMovie* m);
// Lets the kept drawing of that sprite object go, when it has one; the
// other kept sprites stay.
void AnimDisplay_DropKept(AnimMovie* m, const AnimDisplayObject* o);
// Clears the area being redrawn to what lies under every level: the kept
// "/Background" sprites over their colour (copied from the picture, which
// is made when the heap has room), else the background colour.
void AnimDisplay_ClearToBackground(AnimMovie* m);
// Draws a shape, morph or text from its records (a shape object's through
// its cache words) after making room for it in the edge pool; 1 when drawn.
uint32_t AnimDisplay_DrawRecords(AnimMovie* m, AnimDisplayObject* o, const AnimChar* c, const AnimMatrix* matrix,
                                 const AnimCxform* cx);
bool AnimDisplay_Bounds(const AnimDisplayList* list, AnimRect* out);
// Adds the changed areas of a list and of every nested list (in the list's
// units) to out, and empties them.
void AnimDisplay_TakeDirty(AnimDisplayList* list, AnimRect* out);
// Walks over the tree of clips are numbered: a walk started by
// AnimDisplay_StartWalk that needs to see each clip only once (objects of
// one name share their clip, and nested, such clips multiply their copies
// at every level) enters one when AnimDisplay_FirstVisit says it meets it
// for the first time.
uint64_t AnimDisplay_StartWalk(AnimMovie* m);
bool AnimDisplay_FirstVisit(AnimClip* clip, uint64_t walk);
uint32_t AnimDisplay_DrawList(AnimMovie* m, AnimDisplayList* list, const AnimMatrix* matrix,
                              const AnimCxform* cxform);
void AnimDisplay_FreeObject(AnimPlayer* p, AnimDisplayObject* object);
// A sprite's bounds: those of what its clip shows now, in the sprite's own
// units; false when it shows nothing. The clip's _width and _height follow
// them whenever it shows anything.
bool AnimSprite_GetBounds(AnimClip* clip, AnimRect* out);
// Bounds of a placed object's character in its list's units.
bool AnimDisplay_ObjectBounds(const AnimDisplayObject* object, AnimRect* out);

void AnimClip_Init(AnimClip* clip, AnimMovie* movie);
uint32_t AnimClip_Update(AnimDisplayList* list);
uint32_t AnimClip_Advance(AnimClip* clip);
uint32_t AnimClip_RunFrame(AnimClip* clip, uint32_t frame, uint32_t mode);
uint32_t AnimClip_Goto(uint32_t oldFrame, AnimClip* clip);
AnimClip* AnimClip_FindByPath(AnimClip* root, const char* path);
int32_t AnimClip_FindLabel(const AnimClip* clip, const char* label);
// The clip of a name in a sprite's chain, made when missing; without a
// chain the movie's root.
AnimClip* AnimLevel_Find(AnimMovie* m, AnimClip* chain, const char* name);
void AnimClip_Halt(AnimClip* clip);
void AnimClip_Restart(AnimClip* clip, bool stale);
void AnimClip_RestartAfter(AnimMovie* m, uint32_t frame);

// Actions. Result bits: 1 play state or display changed, 4 an update is needed.
inline constexpr uint32_t kAnimRunChanged = 1;
inline constexpr uint32_t kAnimRunJump = 2;
inline constexpr uint32_t kAnimRunUpdate = 4;
// Caps that keep any movie from overflowing the engine; the work of a step
// is bounded by the player's budget (kAnimStepWork).
inline constexpr uint32_t kAnimMaxRunDepth = 16;         // runs inside runs
inline constexpr uint32_t kAnimMaxClipDepth = 16;        // sprites inside sprites
uint32_t AnimAction_Run(AnimClip* clip, const AnimActionRecord* first, uint32_t argument);

// Buttons and events.
uint32_t AnimClip_HandleEvent(AnimClip* clip, const AnimEvent* event);
// Visits every button of every level in display order, into sprites, past
// fields of flag 8: a visit answering 2 stops the walk (the walk answers 2),
// 1 is remembered (the walk answers 1).
using AnimButtonVisit = uint32_t (*)(void* context, uint32_t key, AnimDisplayObject* object, AnimClip* owner);
uint32_t AnimButton_Walk(AnimMovie* m, void* context, uint32_t key, AnimButtonVisit visit);
// The first button whose state moved since its list last ran: its owner
// clip and the list of that transition (its previous state is brought up).
AnimDisplayObject* AnimButton_FindChanged(AnimMovie* m, AnimClip** owner, const AnimActionRecord** list);
// The nearest button in a direction's cone from the focus; none without one.
AnimDisplayObject* AnimButton_Nearest(AnimMovie* m, int32_t dx, int32_t dy, AnimDisplayObject* focus);
AnimDisplayObject* AnimButton_First(AnimMovie* m);
// The first button whose condition names the key (24 to 36), with its list.
AnimDisplayObject* AnimButton_FindKey(AnimMovie* m, uint32_t key, AnimClip** owner, const AnimActionRecord** list);
void AnimButton_Track(AnimMovie* m);
void AnimButton_Release(AnimInputState* input, AnimDisplayObject* object);
void AnimButton_Refocus(AnimInputState* input, AnimDisplayObject* object);
// The button's area (its hit-test records, else all) in its list's units.
bool AnimButton_Bounds(const AnimDisplayObject* object, AnimRect* out);
// Draws the records of a state; a sprite record shows the button's own
// instance clip (nested, or nothing without one).
uint32_t AnimButton_Draw(AnimMovie* m, const AnimButton* button, uint32_t state, const AnimMatrix* matrix,
                         const AnimCxform* cxform, AnimClip* nested, uint32_t nesting);
// The instance clip of the sprite a placed button holds, made on first use; null without one.
AnimClip* AnimButton_NestedClip(AnimMovie* m, AnimDisplayObject* object);
// Draws a clip's list at a matrix and colour transform, as a sprite is drawn.
uint32_t AnimDisplay_DrawClip(AnimMovie* m, AnimClip* clip, const AnimMatrix* matrix, const AnimCxform* cxform,
                              uint32_t nesting);
