// The standard control classes: links, check boxes and radio buttons, push
// buttons, edit boxes and text areas. Each class keeps its own fields after
// the common control record; the records below are what the procedures
// read and what their owners and tests may inspect.
#pragma once
#include <cstdint>

#include "widgets/pwl.h"

struct BenAnchorRecord;
struct BenFormFieldRecord;
struct DDriverItem;
struct FontInstance;
struct InputSession;

// Results of the classes besides the core's.
namespace PwlClassErr {
constexpr Result NoImage = 0x802a800b;  // also: bind or get value without data
constexpr Result TooTall = 0x802a8011;
constexpr Result BadEvent = 0x802a8017;
constexpr Result BoxNullControl = 0x80308007;
constexpr Result BoxBadEvent = 0x80308017;
}  // namespace PwlClassErr

// Event bits the classes take besides the core's (PwlEvt).
namespace PwlClassEvt {
constexpr uint32_t Either = 0x21, Forwarded = 0x100, Release = 0x200, Clear = 0x800,
                   LineUp = 0x8000, LineDown = 0x10000;
constexpr uintptr_t WindowString = 2;  // event data: select with the window's current string
}  // namespace PwlClassEvt

// Messages of single classes.
namespace PwlClassMsg {
constexpr uint32_t TextRect = 5, SetFont = 16, SetBackground = 18, Viewer = 24, NoFrame = 128,
                   Hide = 132, Show = 133;
}

// Installs the standard rows into every class-table row that is still empty
// (a row put in earlier, a test's for instance, stays) and answers the
// core's questions about links.
void PwlInstallStandardClasses();

// --- Links (types 2 and 3) -----------------------------------------------------

struct PwlTextLink {
  PwlControl control;
  BenAnchorRecord* anchor;
  DDriverItem* item;  // the text run
  PglViewport* saved;  // the screen under the highlighted run
  uint32_t savedScrollTop;
};

struct PwlImageLink {
  PwlControl control;
  BenAnchorRecord* anchor;
  DDriverItem* item;  // the image
};

extern const PwlControlClass kPwlTextLinkClass;
extern const PwlControlClass kPwlImageLinkClass;
// The RGB565 colour with each channel inverted.
uint16_t PwlInverseColour(uint16_t colour);
bool PwlLinkIsFirstField(const PwlControl* control);

// --- Check box and radio button (types 4 and 7; PwlCheckHead) ----------------

extern const PwlControlClass kPwlCheckBoxClass;
extern const PwlControlClass kPwlRadioClass;

// --- Push button (type 5) ----------------------------------------------------

namespace PwlButtonFlag {
constexpr uint32_t LayoutPending = 0x10, FormFill = 0x40000000;
}

struct PwlButton {
  PwlControl control;
  uint32_t shown;  // label characters drawn before the ellipsis
  FontInstance* font;
  const char16_t* label;  // given at bind time (the control's own when unbound)
  BenFormFieldRecord* record;  // when bound
  char16_t* ownLabel;          // a default label, or the record's label widened
};

extern const PwlControlClass kPwlButtonClass;
// Flags of set rectangle: the data is one point.
constexpr uint32_t kPwlButtonAtPoint = 0x10;

// --- Edit box and text area (types 9 and 10) ---------------------------------

namespace PwlBoxFlag {
constexpr uint32_t Pressed = 0x20000, RectSet = 0x400000, TextArea = 0x10000000,
                   NoFrame = 0x20000000, Password = 0x40000000;
}

// The viewer's line starts, ten to a chunk.
constexpr uint32_t kPwlLinesPerChunk = 10;
constexpr uint32_t kPwlNoLine = 0xFFFFFFFF;
struct PwlLineChunk {
  PwlLineChunk* previous;
  PwlLineChunk* next;
  uint32_t starts[kPwlLinesPerChunk];  // offsets into the text, or kPwlNoLine
};

namespace PwlScrollState {
constexpr uint32_t Above = 1, Below = 2;
}

struct PwlTextBox {
  PwlControl control;
  const char* title;
  char modeLetter;
  char16_t* text;
  BenFormFieldRecord* record;
  uint32_t scroll;  // first shown character, or the first shown line's start
  uint32_t maxLength;
  uint32_t length;
  uint32_t capacity;
  uint32_t rows;
  int32_t innerWidth;
  uint32_t visible;
  FontInstance* font;
  int32_t fixedWidth;
  int32_t lineHeight;
  uint32_t fixedCapacity;
  PwlLineChunk* firstChunk;
  PwlLineChunk* chunk;
  uint32_t lineIndex;
  uint32_t scrollState;  // PwlScrollState
  uint32_t shown;
  uint32_t moreLines;
  uint32_t viewer;
  uint32_t style;
  InputSession* session;
};

// Bind data of an unbound box.
struct PwlTextBoxData {
  uint32_t maxLength;
  const char16_t* text;
  const char* title;  // 8-bit
};

// Data of set font.
struct PwlFontSpec {
  const char* name;
  int32_t size;
  uint32_t style;
  uint32_t fixedPitch;
};

constexpr uint32_t kPwlDefaultMaxLength = 255;

Result PwlTextBoxReset(PwlControl* control);
Result PwlTextBoxInit(PwlControl* control);
Result PwlTextBoxClassProc(PwlControl* control, PwlControl* source, void* data, uint32_t flags,
                           uint32_t message, uintptr_t argument);
Result PwlTextBoxProc(PwlControl* control, PwlControl* source, void* data, uint32_t flags,
                      uint32_t message, uintptr_t argument);
Result PwlTextBoxMeasure(PwlControl* control, const void* classData, uint32_t flags,
                         PwlSize* out);
extern const PwlControlClass kPwlEditBoxClass;
extern const PwlControlClass kPwlTextAreaClass;

// --- Helpers the classes share -----------------------------------------------

struct BenAnchorRecord;
// What links and link marquees do with select and pointer events: report the
// link (once per run of lines) when it leads somewhere, and the tapped point.
Result PwlLinkEvent(PwlControl* c, BenAnchorRecord* anchor, void* data, uintptr_t bits);
// An owner-drawn control hands an event on to the control held as its first
// creation value, marked as forwarded. True when the control is owner-drawn:
// the event is then dealt with, whether or not anyone took it.
bool PwlForwardOwnerDrawn(PwlControl* c, void* data);
// A focused control with a titled anchor becomes the window's balloon control
// and shows the title beside `rect`, or with balloons off marks it pending.
Result PwlOfferTitle(PwlControl* c, const BenAnchorRecord* anchor, const PglRect& rect);
// A control going away stops being the window's balloon control.
void PwlForgetBalloonControl(PwlControl* c);

// The answers every class gives alike: enable and disable set the enabled
// flag, get rectangle copies the rectangle out. True, with the answer in
// *result, when `message` is one of them.
bool PwlCommonMessage(PwlControl* c, void* data, uint32_t message, Result* result);
// Posts to the window's owner under the run rule: while a focus message goes
// to a run of controls (a link broken over lines), only the first post of
// the run goes out.
void PwlPostOnce(PwlWindow* window, uint32_t message, uintptr_t arg1, uintptr_t arg2);
// The control's rectangle in frame coordinates.
PglRect PwlFrameRectOf(const PwlControl* control);
// The toolkit image, or null when it was not loaded.
const PglSurface* PwlImageOf(uint32_t index);
