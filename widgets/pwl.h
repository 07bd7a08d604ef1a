// The widget toolkit (module 42): windows on the handset screen, the controls
// inside them, focus and key routing, and the toolkit task.
//
// Windows form a tree under the context's window list; each holds its
// sub-windows and its controls in reading order. Every control operation goes
// through the procedure of its class row. Rectangles are inclusive; control
// rectangles are in the content coordinates of their window, drawing
// coordinates are relative to the window's frame.
#pragma once
#include <cstdint>

#include "graphics/pgl.h"
#include "kernel/list.h"
#include "kernel/modules.h"
#include "kernel/tskman.h"

struct PwlWindow;
struct PwlControl;

namespace PwlErr {
constexpr Result NoMemory = 0x802a0001;
constexpr Result BadArg = 0x802a0002;  // also: entered text does not match its mask
constexpr Result NoParent = 0x802a8000;
constexpr Result NullWindow = 0x802a8001;
constexpr Result NullData = 0x802a8002;
constexpr Result NullRect = 0x802a8003;  // also: past the end of an input mask
constexpr Result EmptySize = 0x802a8004;
constexpr Result DoesNotFit = 0x802a8005;
constexpr Result BadType = 0x802a8006;
constexpr Result NullControl = 0x802a8007;
constexpr Result NoOperation = 0x802a8009;
constexpr Result OutsideView = 0x802a800a;
constexpr Result PartlyVisible = 0x802a8018;
constexpr Result BadMask = 0x802a8019;
}  // namespace PwlErr

// Allocation use codes.
namespace PwlUse {
constexpr uint32_t Context = 4, Window = 26, Control = 28;
}

// The control message set: procedure(control, source, data, flags, message,
// argument). Numbers above 15 belong to the classes.
namespace PwlMsg {
constexpr uint32_t Event = 1, Redraw = 2, Enable = 3, Disable = 4, GetRect = 6, SetRect = 7,
                   GetValue = 8, Bind = 9, SetChecked = 11, FocusIn = 12, FocusOut = 13,
                   TickerPeriods = 14, ValueDelivered = 19, JoinGroup = 129, Destroy = 255;
// Sent by PwlCloseFocusedInput to a focused edit box or text area: close the
// open text-input session and forget it.
constexpr uint32_t CloseInput = 130;
}  // namespace PwlMsg

// Flags of the control messages.
namespace PwlMsgFlag {
constexpr uint32_t Checked = 0x400, Redraw = 0x800, Reposition = 0x4000, Bound = 0x80;
}

// Argument bits of event messages (PwlMsg::Event).
namespace PwlEvt {
constexpr uint32_t Select = 0x1, Leave = 0x2, Pointer = 0x20, Deselect = 0x400,
                   Backward = 0x1000, Forward = 0x2000;
}

// The control's flags word.
namespace PwlCtl {
constexpr uint32_t Focusable = 0x2, Grouped = 0x8, Bound = 0x80, LeaveNotice = 0x100,
                   Checked = 0x400, Enabled = 0x10000, MarksChanged = 0x20000,
                   Focused = 0x40000, OwnerDrawn = 0x80000, Active = 0x100000;
}

// Control types: rows of the class table.
namespace PwlType {
constexpr uint32_t ImageMap = 1, TextLink = 2, ImageLink = 3, CheckBox = 4, Button = 5,
                   Marquee = 6, Radio = 7, Select = 8, EditBox = 9, TextArea = 10;
constexpr uint32_t Count = 12;  // rows 0 and 11 stay empty
}  // namespace PwlType

// The window's state word.
namespace PwlState {
constexpr uint32_t Changed = 0x1, Shown = 0x2, NoLeaveNotice = 0x80000;
}

// Sub-codes of the key message 0x2a0d to the toolkit task.
namespace PwlKey {
constexpr uint32_t Select = 1, Deselect = 2, Next = 3, Previous = 4, Up = 5, Down = 6,
                   ForwardEvent = 7, BackwardEvent = 8, Soft1 = 9, Soft2 = 10, Pointer = 11;
}

// Messages of module 42: the key message to the toolkit task and the events
// toolkit windows and controls send to their owner tasks.
namespace PwlEvent {
constexpr uint32_t Label = 0x2a00,        // (UTF-16 label, 0): show one soft-key label
    ClearLabels = 0x2a01,                 // (0, 0)
    FocusChanged = 0x2a02,                // (0, 0)
    // A control's activation: (copy of the text, 0 or item count) from a
    // text-input session; (control, first creation value) from a selected
    // link or button.
    Activated = 0x2a03,
    Point = 0x2a04,                       // (control, x | y << 16): a point of an image selected
    Scroll = 0x2a05,                      // (1 later / 2 earlier, pixels)
    BringIntoView = 0x2a06,               // (target top, target control)
    Labels = 0x2a07,                      // (first label, second label)
    SelectAction = 0x2a08,                // (option label, 1) or (action, 2) of a select list
    PopupAnswer = 0x2a09,                 // (value, flag)
    MapArea = 0x2a0a,                     // (target, 0)
    RedrawPage = 0x2a0b,                  // (window or null, 0)
    Cancel = 0x2a0c,                      // (0, 0)
    Key = 0x2a0d,                         // (sub-code, argument)
    PopupCommand = 0x2a0e,                // (command, argument)
    // A requester's own, while it waits on a popup: look whether the popup
    // still stands; then, once it has gone, that no answer came first.
    PopupCheck = 0x2a11,                  // (watch serial, 0)
    PopupGone = 0x2a12,                   // (watch serial, 0)
    // To the requester from a popup that could not be built: it is gone,
    // and this says why.
    PopupFailed = 0x2a15,                 // (the popup task's serial, result)
    // To a popup whose window is on top again, the one over it gone: its
    // controls offer their soft-key labels and keys again.
    PopupUncovered = 0x2a13,              // (0, 0)
    InputOpened = 0x2a10,                 // (0, 0)
    // To the UI task: a text-input window has closed; with 1, it was a
    // popup's text entry, and no control under it has the edit key the
    // window's going left in the band.
    InputClosed = 0x2a14;                 // (1 popup entry / 0 control, 0)
}  // namespace PwlEvent

// The browser task's notice that a changed form field lost the focus:
// (group, 0) to task 25.
constexpr uint32_t kPwlFieldLeftMessage = 0x190e;

struct PwlOrigin {
  uint32_t x, y;
};

struct PwlSize {
  uint32_t width, height;
};

// {x, y, width, height}: a sub-window's place in its parent, or a clip on the
// screen surface.
struct PwlBox {
  int32_t x, y;
  uint32_t width, height;
};

using PwlProc = Result (*)(PwlControl* control, PwlControl* source, void* data, uint32_t flags,
                           uint32_t message, uintptr_t argument);

// One row of the class table.
struct PwlControlClass {
  Result (*init)(PwlControl* control);
  PwlProc procedure;
  Result (*measure)(PwlControl* control, const void* classData, uint32_t flags, PwlSize* out);
  uint32_t instanceSize;  // the common head and the class's own fields
};

// The common head of every control record; the class's fields follow it.
struct PwlControl {
  ListNode link;  // in the window's control list
  PwlProc procedure;
  PwlWindow* window;
  PglRect rect;        // content coordinates; all -1 until placed
  // First creation value: one form field, link or line, or for an
  // owner-drawn control the control its events go to; pointer-sized for that.
  uintptr_t group;
  uintptr_t item;      // second creation value: a display item or a text
  uint32_t row;        // third creation value: the line, for reading order
  uint32_t reserved1;  // zeroed, not used by the core
  uint32_t flags;      // PwlCtl
  uint32_t type;       // PwlType
  uint32_t reserved2;
};

// The head of a check box or radio button: the radio group's chain lives in
// the class fields the core walks for PwlRadioSetChecked.
struct PwlCheckHead {
  PwlControl control;
  void* bound;  // the page's form-field record, or an unbound radio's group name
  uint16_t background;
  PwlControl* previousInGroup;
  PwlControl* nextInGroup;
};

struct PwlWindow {
  ListNode link;  // in the parent's sub-window list, or the context's list
  PwlWindow* parent;
  uint32_t marker;  // 'w'
  ListHead children;
  ListHead controls;
  uint32_t width, height;
  PglRect frame;  // inclusive screen coordinates
  PglViewport viewport;
  PwlOrigin origin;  // content coordinate at the frame's top-left
  TskmanTask* owner;
  uint32_t hidden;
  uint16_t background;
  PwlControl* focused;
  uint32_t state;  // PwlState
  uint32_t focusMessage;
  uint32_t labelMark;
  uint32_t lastDirection;
  PglViewport* cache[2];  // kept by the view-drawing code
  TskmanTimer* timer;     // the text balloon's
  PglViewport* saved[2];  // the screen under the balloon box and its pointer
  PwlControl* balloonControl;  // the control whose title balloon is pending or shown
  uint32_t balloonPending;     // a title waits for balloons to be switched on
  uint32_t balloonsOn;         // set by the window's owner; clear: no balloons
};

constexpr uint32_t kPwlWindowMarker = 'w';

// Flags of PwlCreateWindow and PwlCreateSubWindow.
namespace PwlWin {
constexpr uint32_t AtTail = 0x2, ClearOnOpen = 0x4;
}

struct PwlSlot {
  uint32_t code;
  uintptr_t data;
};

struct PwlImagePair {
  const uint8_t* file;  // the built-in file, released with QorRomRelease
  PglSurface image;
};

constexpr uint32_t kPwlImageCount = 20;
// The image pairs in the order the classes index them.
namespace PwlImage {
constexpr uint32_t TextUp = 0, TextDown = 1, TextUpFocus = 2, TextDownFocus = 3, EditBox = 4,
                   EditBoxFocus = 5, Menu = 6, MenuFocus = 7, RadioClear = 8, RadioSet = 9,
                   RadioClearFocus = 10, RadioSetFocus = 11, CheckClear = 12, CheckSet = 13,
                   CheckClearFocus = 14, CheckSetFocus = 15, MenuWide = 16, MenuWideFocus = 17,
                   ScrollUp = 18, ScrollDown = 19;
}

struct PwlContext {
  TskmanTask* task;
  ListHead windows;
  PwlWindow* root;
  PwlWindow* active;
  PglSurface screen;
  uint32_t keyMark;  // 1: the focused control posted its own soft-key labels
  PwlSlot slots[2];
  uint32_t modal;  // nonzero while a text-input session or popup editor is open
  PwlImagePair images[kPwlImageCount];
};

// The direction of the last navigation key: 1 forward, 0 backward.
extern uint32_t PwlNavDirection;

// --- Context -----------------------------------------------------------------

// Brings the toolkit up for the browser phase; 0 on success.
Result PwlInit();
void PwlShutdown();
PwlContext* PwlGetContext();
Result PwlGetRootWindow(PwlWindow** out);
Result PwlGetActiveWindow(PwlWindow** out);
void PwlSetActiveWindow(PwlWindow* window);
uint32_t PwlIsModal();
// Raised by the text-input session and popup editors, lowered when they close.
void PwlSetModal(uint32_t on);
void PwlSetSlot(uint32_t slot, uint32_t code, uintptr_t data);
void PwlClearSlot(uint32_t slot);
void PwlGetSlot(uint32_t slot, uint32_t* code, uintptr_t* data);
// The toolkit's texts: UI string table 13's entry as it stands (static,
// never null), and a new copy of it or null (freed with MemFree).
const char16_t* PwlLabelText(uint32_t index);
char16_t* PwlDupUiString(uint32_t index);
// The text with the browser's variables substituted, or a plain copy.
Result PwlSubstituteText(const char16_t* text, char16_t** out);
// The class table's row for a type; the control classes install theirs (and
// tests their own). Returns the row it replaced; rows 0 and 11 stay empty.
const PwlControlClass* PwlSetControlClass(uint32_t type, const PwlControlClass* row);
const PwlControlClass* PwlGetControlClass(uint32_t type);

// --- Windows -----------------------------------------------------------------

Result PwlCreateWindow(PwlContext* context, PwlWindow** out, uint32_t flags);
Result PwlCreateSubWindow(PwlWindow** out, PwlWindow* parent, const PwlBox* box, uint32_t flags);
void PwlDestroyWindow(PwlWindow** window);
Result PwlMoveInParent(PwlWindow* window, uint32_t mode);
Result PwlGetOrigin(const PwlWindow* window, PwlOrigin* out);
Result PwlSetOrigin(PwlWindow* window, const PwlOrigin* origin);
Result PwlGetWindowRect(const PwlWindow* window, PglRect* out);
Result PwlGetSize(const PwlWindow* window, PwlSize* out);
Result PwlQuerySize(const PwlWindow* window, PwlSize* out);
Result PwlSetWindowLink(PwlWindow* window, TskmanTask* owner);
void PwlPostToOwner(const PwlWindow* window, uint32_t message, uintptr_t arg1, uintptr_t arg2);
void PwlReleaseWindowCache(PwlWindow* window);
void PwlSetPending(PwlWindow* window);
void PwlClearWindow();

// --- Controls ----------------------------------------------------------------

Result PwlCreate(PwlControl** out, PwlWindow* window, uintptr_t group, uintptr_t item,
                 uint32_t row, uint32_t type);
Result PwlDestroy(PwlControl* control);
// Sends one message to the control's procedure.
Result PwlSend(PwlControl* control, PwlControl* source, void* data, uint32_t flags,
               uint32_t message, uintptr_t argument);
Result PwlMeasure(PwlControl* control, const void* classData, uint32_t flags, PwlSize* out,
                  uint32_t type);
Result PwlSetMark20(PwlControl* control, uint32_t on);
Result PwlGetArg1(const PwlControl* control, uintptr_t* out);
Result PwlGetArg2(const PwlControl* control, uintptr_t* out);
Result PwlGetArg2Length(const PwlControl* control, uint32_t* out);
PwlControl* PwlGetFocusedControl();
Result PwlGetRelativeRect(const PwlControl* control, PglDrawArgs* args);
Result PwlRadioSetChecked(PwlControl* control);
Result PwlInsertByPosition(PwlControl* control);
Result PwlRedrawRange(PwlWindow* window);
Result PwlRepositionControls(PwlWindow* window);

// --- Visibility --------------------------------------------------------------

Result PwlRectVisible(const PwlControl* control, int32_t left, int32_t top, int32_t right,
                      int32_t bottom);
Result PwlCheckVertical(const PwlWindow* window, const PglRect* rect);
Result PwlFirstVisibleChild(PwlWindow* window, PwlControl** out, uint32_t focusableOnly);
Result PwlNextVisibleChild(PwlWindow* window, PwlControl** out, uint32_t focusableOnly);
Result PwlFirstVisibleGroup(PwlWindow* window, PwlControl** out, uint32_t focusableOnly);
bool PwlRectsOverlap(const PglRect* a, const PglRect* b);
bool PwlPointInRect(const PglRect* rect, int32_t x, int32_t y);

// --- Drawing into a window (frame-relative; hidden windows draw nothing) -----

Result PwlDrawImage(PwlWindow* window, const PglDrawArgs* args);
Result PwlBlitImage(PwlWindow* window, const PglDrawArgs* args, uint16_t key,
                    uint16_t background);
Result PwlClear(PwlWindow* window);
Result PwlFillRect(PwlWindow* window, const PglRect* rect);
Result PwlFillRect2(PwlWindow* window, const PglRect* rect, uint16_t colour);
Result PwlDrawSegment(PwlWindow* window, const PglRect* rect, uint16_t colour);
Result PwlInvertRect(PwlWindow* window, const PglRect* rect);
// kind 0 any line (clipped), 1 vertical, 2 horizontal.
Result PwlDrawLine(PwlWindow* window, const PglRect* rect, uint32_t kind, uint16_t colour);
Result PwlSetPixel(PwlWindow* window, const PglPoint* point, uint16_t colour);
Result PwlFrameRect(PwlWindow* window, const PglRect* rect, uint16_t colour);
// The sound output's empty source: stores 1 through target, answers 0x8001.
Result PwlStubHandler(void* target, void* out1, void* out2);
void* PwlSetThirdWord(void* record, uintptr_t value);

// --- Focus and keys ----------------------------------------------------------

Result PwlTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);
Result PwlSetFocus(PwlContext* context, PwlControl* control, uint32_t redrawOld,
                   uint32_t redrawNew);
Result PwlFocusControl(PwlControl* control, uint32_t force);
Result PwlFocusAndActivate(PwlControl* control);
Result PwlActivate(PwlControl* control);
void PwlClearFocus();
void PwlResetFocus();
// Closes the text-input session of the focused edit box (PwlMsg::CloseInput).
void PwlCloseFocusedInput();
uint32_t PwlEnsureFocus(PwlWindow* window);
uint32_t PwlFocusFirstVisible(PwlWindow* window);
uint32_t PwlFocusLastVisible(PwlWindow* window);
uint32_t PwlFocusFirstField(PwlWindow* window);
uint32_t PwlFocusStep(PwlWindow* window, uint32_t direction, uint32_t redraw);
uint32_t PwlFocusMoveInList(PwlContext* context, PwlWindow* window, uint32_t direction,
                            uint32_t redraw);
uint32_t PwlFocusMoveSpatial(PwlContext* context, PwlWindow* window, uint32_t direction,
                             uint32_t redraw);
PwlControl* PwlFindVerticalNeighbour(PwlWindow* window, uint32_t direction);
// 1 when the whole distance was asked for, 0 when it was cut to half a window.
uint32_t PwlRequestScroll(PwlWindow* window, const PwlControl* control, uint32_t mode);
uint32_t PwlScrollBy(PwlWindow* window, int32_t amount);
bool PwlImageMapIsActive(const PwlControl* control);
bool PwlSelectIsOpen(const PwlControl* control);
// What the core asks of particular classes: whether an image map has a
// selected area, whether a select list is open (and to close it or hand it a
// pointer press), whether a link's anchor carries the first-field mark. Null
// members answer no and do nothing; the classes install theirs.
struct BenPage;
struct PwlClassHooks {
  bool (*imageMapActive)(const PwlControl* control);
  bool (*selectOpen)(const PwlControl* control);
  void (*selectClose)(PwlControl* control);
  void (*selectPointer)(PwlControl* control, int32_t x, int32_t y);
  bool (*firstField)(const PwlControl* control);
};
void PwlSetClassHooks(const PwlClassHooks* hooks);
// How the toolkit scrolls a whole page to its top or end when the focus can
// go no further: the browser's page scrolling, which it installs. Without
// one a page never moves (the answer is "already at the edge").
struct PwlPageScroller {
  Result (*toEdge)(BenPage* page, uint32_t direction, uint32_t margin);
  Result (*toBottom)(BenPage* page, uint32_t margin);
};
void PwlSetPageScroller(const PwlPageScroller* scroller);
