// Edit boxes and text areas: binding and cleaning the value, masks and
// password boxes in the text-input session, the value coming back, the
// viewer's chunked line table, and how a small form looks.
#include <string>

#include "browser/benform.h"
#include "browser/benvar.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "tests/widgets/fake_text_window.h"
#include "tests/widgets/pwl_controls_fixture.h"
#include "widgets/input.h"
#include "widgets/pwl_text.h"

namespace {

Result BrowserHandler(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }

char16_t* Heap(const char16_t* text) {
  auto* copy =
      static_cast<char16_t*>(MemAlloc((LibcWStrLen(text) + 1) * 2, Use::String, Mod::Ben));
  LibcWStrCopy(copy, text);
  return copy;
}

class EditTest : public ControlsFixture {
 protected:
  void SetUp() override {
    ControlsFixture::SetUp();
    window.Install();
  }
  void TearDown() override {
    window.Remove();
    ControlsFixture::TearDown();
  }
  PwlTextBox* Box(uint32_t type, PglRect rect) {
    PwlControl* c = Control(type, {-1, -1, -1, -1});
    PwlSend(c, nullptr, &rect, 0, PwlMsg::SetRect, 0);
    return reinterpret_cast<PwlTextBox*>(c);
  }
  Result Bind(PwlTextBox* b, BenFormFieldRecord* record) {
    return PwlSend(&b->control, nullptr, record, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  }
  Result BindText(PwlTextBox* b, const char16_t* text, uint32_t maxLength = 0) {
    PwlTextBoxData data{maxLength, text, "Title"};
    PwlFontSpec font{"BodyText", 3, 0, 0};
    PwlSend(&b->control, nullptr, &font, 0, PwlClassMsg::SetFont, 0);
    return PwlSend(&b->control, nullptr, &data, 0, PwlMsg::Bind, 0);
  }
  Result Event(PwlTextBox* b, uint32_t bits) {
    return PwlSend(&b->control, nullptr, nullptr, 0, PwlMsg::Event, bits);
  }
  FakeTextWindow window;
};

TEST_F(EditTest, BindingDropsOuterLineBreaksFromItsOwnCopy) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::TextArea;
  record.initialValue = u"\r\nfirst\nlast\r\n";
  PwlTextBox* b = Box(PwlType::TextArea, {0, 0, 120, 60});
  ASSERT_EQ(Bind(b, &record), kOk);
  EXPECT_EQ(std::u16string(b->text), u"first\nlast");
  EXPECT_EQ(b->length, 10u);
  EXPECT_EQ(b->capacity, 11u);
  EXPECT_EQ(record.value, b->text);  // shared with the record
  EXPECT_EQ(std::u16string(record.initialValue), u"\r\nfirst\nlast\r\n");
  EXPECT_EQ(b->maxLength, kPwlDefaultMaxLength);

  // A pending value wins and becomes the current one.
  record.newValue = Heap(u"\nnew");
  ASSERT_EQ(PwlRepositionControls(root), kOk);
  EXPECT_EQ(std::u16string(b->text), u"new");
  EXPECT_EQ(record.value, b->text);
  EXPECT_EQ(record.newValue, nullptr);

  // Nothing but line breaks leaves nothing; nothing at all an empty buffer.
  PwlTextBox* u = Box(PwlType::EditBox, {0, 70, 120, 90});
  ASSERT_EQ(BindText(u, u"\r\n\r\n"), kOk);
  EXPECT_EQ(u->length, 0u);
  ASSERT_EQ(BindText(u, nullptr), kOk);
  EXPECT_EQ(u->capacity, 8u);
  EXPECT_EQ(u->text[0], 0);
  EXPECT_EQ(PwlSend(&u->control, nullptr, nullptr, 0, PwlMsg::Bind, 0), PwlClassErr::NoImage);
  MemFree(&record.value);
}

TEST_F(EditTest, APasswordBoxShowsOneHashACharacterAsFarAsItFits) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::Input;
  record.flags = BenInputFlag::Password;
  record.initialValue = u"secret123456";
  PwlTextBox* wide = Box(PwlType::EditBox, {0, 0, 150, 20});
  ASSERT_EQ(Bind(wide, &record), kOk);
  EXPECT_TRUE(wide->control.flags & PwlBoxFlag::Password);
  EXPECT_EQ(wide->visible, 12u);
  EXPECT_EQ(PwlSend(&wide->control, nullptr, nullptr, 0, PwlMsg::Redraw, 0), kOk);

  BenFormFieldRecord other = record;
  other.value = nullptr;
  PwlTextBox* narrow = Box(PwlType::EditBox, {0, 30, 50, 50});
  ASSERT_EQ(Bind(narrow, &other), kOk);
  int32_t hash = 0;
  PwlCharWidth(narrow->font, 0, u'#', &hash);
  ASSERT_GT(hash, 0);
  const int32_t available = 50 - 9 - static_cast<int32_t>(PwlImageOf(PwlImage::EditBox)->width);
  EXPECT_EQ(narrow->visible, static_cast<uint32_t>(available / hash));
  EXPECT_LT(narrow->visible, 12u);
  MemFree(&record.value);
  MemFree(&other.value);
}

TEST_F(EditTest, SelectOpensASessionWithTheFieldsMaskAndTheValueComesBack) {
  BenBrowser browser;
  BenBrowserInit(&browser);
  TskmanTask* ben = nullptr;
  ASSERT_EQ(TskmanCreateTask(&ben, Mod::Ben, BrowserHandler, &browser), kOk);
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::Input;
  record.flags = BenInputFlag::RefuseEmpty;
  record.maxLength = 5;
  record.title = "Zip";
  record.mask = u"5N";
  record.variable = u"zip";
  record.initialValue = u"1";
  PwlTextBox* b = Box(PwlType::EditBox, {10, 10, 120, 30});
  ASSERT_EQ(Bind(b, &record), kOk);
  PwlSetFocus(context, &b->control, 1, 1);
  Pump();
  EXPECT_EQ(Labels(), std::vector<std::u16string>{PwlLabelText(3)});
  Key(PwlKey::Select);
  ASSERT_NE(b->session, nullptr);
  EXPECT_EQ(b->session->mode, 1u + InputMode::RefuseEmpty);
  EXPECT_EQ(b->session->mask, record.mask);
  EXPECT_EQ(b->session->maxLength, 5u);
  EXPECT_EQ(window.title, u"Zip");
  EXPECT_EQ(window.text, u"1");
  EXPECT_EQ(PwlIsModal(), 1u);

  EXPECT_EQ(InputSessionSubmitText(b->session, u"12a"), InputErr::Mismatch);
  ASSERT_EQ(InputSessionSubmitText(b->session, u"12345"), kOk);
  EXPECT_EQ(std::u16string(record.value), u"12345");
  EXPECT_EQ(record.value, b->text);
  InputSessionClose(b->session);
  EXPECT_EQ(b->session, nullptr);
  EXPECT_EQ(PwlIsModal(), 0u);
  Pump();  // the close deselects

  // Leaving the pressed field stores its value in the browser's variable.
  PwlSetFocus(context, nullptr, 1, 1);
  Pump();
  ASSERT_NE(BenGetVar(&browser, u"zip"), nullptr);
  EXPECT_EQ(std::u16string(BenGetVar(&browser, u"zip")), u"12345");

  // The toolkit closes an open session of its focused box.
  PwlSetFocus(context, &b->control, 1, 1);
  Key(PwlKey::Select);
  ASSERT_NE(b->session, nullptr);
  PwlCloseFocusedInput();
  EXPECT_EQ(b->session, nullptr);
  EXPECT_EQ(PwlIsModal(), 0u);
  Pump();

  // Event 0x800 frees the value, and the record no longer points at it.
  PwlSend(&b->control, nullptr, nullptr, 0, PwlMsg::Event, PwlClassEvt::Clear);
  EXPECT_EQ(b->text, nullptr);
  EXPECT_EQ(record.value, nullptr);
  BenClearVars(&browser);
  TskmanDestroyTask(ben);
}

TEST_F(EditTest, SessionModesFollowTheKindOfBox) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::Input;
  record.flags = BenInputFlag::Password | BenInputFlag::AcceptEmpty;
  PwlTextBox* pw = Box(PwlType::EditBox, {0, 0, 100, 20});
  Bind(pw, &record);
  ASSERT_EQ(Event(pw, PwlEvt::Select), kOk);
  ASSERT_NE(pw->session, nullptr);
  EXPECT_EQ(pw->session->mode, 0x204u);
  InputSessionClose(pw->session);

  PwlTextBox* area = Box(PwlType::TextArea, {0, 30, 100, 80});
  BindText(area, u"text", 40);
  ASSERT_EQ(Event(area, PwlEvt::Pointer), kOk);
  ASSERT_NE(area->session, nullptr);
  EXPECT_EQ(area->session->mode, 0x202u);
  EXPECT_EQ(area->session->maxLength, 0u);
  // A delivered value keeps the box's own maximum length.
  ASSERT_EQ(InputSessionSubmitText(area->session, u"typed"), kOk);
  EXPECT_EQ(std::u16string(area->text), u"typed");
  EXPECT_EQ(area->maxLength, 40u);
  // The box goes while its session is open: the session closes, never
  // reaching back into the freed control.
  PwlDestroy(&area->control);
  EXPECT_EQ(PwlIsModal(), 0u);
  Pump();

  // A window that cannot open leaves the box unpressed.
  TiwInstall(nullptr);
  PwlTextBox* line = Box(PwlType::EditBox, {0, 90, 100, 110});
  BindText(line, u"x");
  EXPECT_EQ(Event(line, PwlEvt::Select), InputErr::CannotOpen);
  EXPECT_FALSE(line->control.flags & PwlBoxFlag::Pressed);
  EXPECT_EQ(Event(line, 0x40000), PwlClassErr::BoxBadEvent);
  MemFree(&record.value);
}

TEST_F(EditTest, AViewerScrollsThroughChunksOfItsLineTableAndBack) {
  std::u16string text;
  std::vector<uint32_t> starts;
  for (int i = 0; i < 25; ++i) {
    starts.push_back(static_cast<uint32_t>(text.size()));
    text += u"line " + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u"\r\n";
  }
  PwlTextBox* v = Box(PwlType::TextArea, {0, 0, 150, 60});
  ASSERT_EQ(BindText(v, text.c_str()), kOk);
  PwlSend(&v->control, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
  ASSERT_EQ(PwlSend(&v->control, nullptr, nullptr, 0, PwlMsg::Redraw, 0), kOk);
  ASSERT_GT(v->rows, 1u);
  const uint32_t shown = v->rows;
  EXPECT_EQ(v->scrollState, PwlScrollState::Below);

  uint32_t steps = 0;
  while (v->scrollState & PwlScrollState::Below) {
    ASSERT_EQ(Event(v, PwlClassEvt::LineDown), kOk);
    ++steps;
    ASSERT_LT(steps, 30u);
    EXPECT_EQ(v->scroll, starts[steps]);
  }
  EXPECT_EQ(steps, 25 - shown);
  ASSERT_NE(v->firstChunk->next, nullptr);
  EXPECT_NE(v->firstChunk->next->next, nullptr);  // three chunks of ten
  EXPECT_EQ(v->scrollState, PwlScrollState::Above);
  EXPECT_EQ(Event(v, PwlClassEvt::LineDown), kOk);
  EXPECT_EQ(v->scroll, starts[steps]);

  while (v->scrollState & PwlScrollState::Above) {
    ASSERT_EQ(Event(v, PwlClassEvt::LineUp), kOk);
    EXPECT_EQ(v->scroll, starts[--steps]);
  }
  EXPECT_EQ(v->scroll, 0u);
  EXPECT_EQ(Event(v, PwlClassEvt::LineUp), kOk);
  EXPECT_EQ(v->scroll, 0u);
  EXPECT_EQ(v->chunk, v->firstChunk);
}

// A focused viewer names on the soft keys only the directions it can still
// scroll; one whose text fits names none.
TEST_F(EditTest, AFocusedViewerOffersTheDirectionsItCanScroll) {
  std::u16string text;
  for (int i = 0; i < 12; ++i) text += u"line\r\n";
  PwlTextBox* v = Box(PwlType::TextArea, {0, 0, 150, 60});
  ASSERT_EQ(BindText(v, text.c_str()), kOk);
  PwlSend(&v->control, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
  ASSERT_EQ(PwlSend(&v->control, nullptr, nullptr, 0, PwlMsg::Redraw, 0), kOk);
  const auto labelsOnFocus = [&] {
    ClearOwnerLog();
    PwlSend(&v->control, nullptr, nullptr, 0, PwlMsg::FocusOut, 0);
    PwlSend(&v->control, nullptr, nullptr, 0, PwlMsg::FocusIn, 0);
    Pump();
    const std::vector<Received> labels = OwnerEvents(PwlEvent::Label);
    return labels.empty() ? std::pair<bool, bool>{false, false}
                          : std::pair<bool, bool>{labels.back().arg1 != 0, labels.back().arg2 != 0};
  };
  EXPECT_EQ(labelsOnFocus(), (std::pair<bool, bool>{true, false}));  // down only
  while (v->scrollState & PwlScrollState::Below) ASSERT_EQ(Event(v, PwlClassEvt::LineDown), kOk);
  EXPECT_EQ(labelsOnFocus(), (std::pair<bool, bool>{false, true}));  // up only
  ASSERT_EQ(Event(v, PwlClassEvt::LineUp), kOk);
  EXPECT_EQ(labelsOnFocus(), (std::pair<bool, bool>{true, true}));
  EXPECT_EQ(OwnerEvents(PwlEvent::Label).size(), 1u);
  // Drawn while it holds the focus, it puts both directions on the soft keys.
  PwlSetFocus(context, &v->control, 0, 0);
  ASSERT_EQ(PwlSend(&v->control, nullptr, nullptr, 0, PwlMsg::Redraw, 0), kOk);
  uint32_t code[2] = {};
  uintptr_t slotData = 0;
  PwlGetSlot(1, &code[0], &slotData);
  PwlGetSlot(2, &code[1], &slotData);
  EXPECT_EQ(code[0], PwlClassEvt::LineDown);
  EXPECT_EQ(code[1], PwlClassEvt::LineUp);
  Pump();
  PwlTextBox* shortOne = Box(PwlType::TextArea, {0, 80, 150, 140});
  ASSERT_EQ(BindText(shortOne, u"fits"), kOk);
  PwlSend(&shortOne->control, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
  ClearOwnerLog();
  PwlSend(&shortOne->control, nullptr, nullptr, 0, PwlMsg::FocusIn, 0);
  Pump();
  ASSERT_EQ(OwnerEvents(PwlEvent::Label).size(), 1u);
  EXPECT_EQ(OwnerEvents(PwlEvent::Label)[0].arg1, 0u);
}

TEST_F(EditTest, BoxMessagesWithoutTheirDataAreRefused) {
  PwlTextBox* b = Box(PwlType::EditBox, {0, 0, 100, 20});
  ASSERT_EQ(BindText(b, u"abc"), kOk);
  PwlControl* c = &b->control;
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlClassMsg::TextRect, 0), PwlErr::NullRect);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::SetRect, 0), PwlErr::NullRect);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::GetValue, 0), PwlClassErr::NoImage);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::ValueDelivered, 0), PwlClassErr::NoImage);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, 0x7777, 0), PwlErr::NoOperation);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::CloseInput, 0), kOk);  // no session
  // The text sits left of the box's icon, inside the frame.
  PglRect text{};
  ASSERT_EQ(PwlSend(c, nullptr, &text, 0, PwlClassMsg::TextRect, 0), kOk);
  EXPECT_EQ(text.left, 1);
  EXPECT_EQ(text.top, 1);
  EXPECT_EQ(text.bottom, 19);
  EXPECT_LT(text.right, 99);
  uintptr_t value = 0;
  ASSERT_EQ(PwlSend(c, nullptr, &value, 0, PwlMsg::GetValue, 0), kOk);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(value)), u"abc");
  // A press let go without leaving the box stores nothing.
  c->flags |= PwlCtl::Enabled;
  ASSERT_EQ(Event(b, PwlEvt::Select), kOk);
  EXPECT_TRUE(c->flags & PwlBoxFlag::Pressed);
  ASSERT_EQ(Event(b, PwlClassEvt::Release), kOk);
  EXPECT_FALSE(c->flags & PwlBoxFlag::Pressed);
}

TEST_F(EditTest, LongLinesWrapAtBlanksAndTrailingBlanksAreNotDrawn) {
  PwlTextBox* v = Box(PwlType::TextArea, {0, 0, 80, 200});
  ASSERT_EQ(BindText(v, u"aaaa bbbb cccc dddd eeee ffff"), kOk);
  PwlSend(&v->control, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
  PwlSend(&v->control, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  // Every later line starts just after a blank.
  for (PwlLineChunk* chunk = v->firstChunk; chunk; chunk = chunk->next) {
    for (uint32_t s : chunk->starts) {
      if (s != kPwlNoLine && s > 0) {
        EXPECT_EQ(v->text[s - 1], u' ');
      }
    }
  }
  ASSERT_NE(v->firstChunk->starts[1], kPwlNoLine);
}

TEST_F(EditTest, AFontTallerThanTheBoxIsRefused) {
  PwlTextBox* b = Box(PwlType::EditBox, {0, 0, 100, 8});
  PwlFontSpec font{"BodyText", 3, 0, 0};
  EXPECT_EQ(PwlSend(&b->control, nullptr, &font, 0, PwlClassMsg::SetFont, 0),
            PwlClassErr::TooTall);
  EXPECT_EQ(b->font, nullptr);
  PwlTextBox* fixed = Box(PwlType::EditBox, {0, 20, 100, 40});
  PwlFontSpec mono{"BodyText", 3, 0, 1};
  ASSERT_EQ(PwlSend(&fixed->control, nullptr, &mono, 0, PwlClassMsg::SetFont, 0), kOk);
  EXPECT_EQ(fixed->style, PwlStyle::Fixed);
  EXPECT_GT(fixed->fixedCapacity, 0u);
}

TEST_F(EditTest, MeasureFollowsTheFieldsSize) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::Input;
  record.size = 5;
  PwlSize five{}, ten{}, pixels{}, area{};
  ASSERT_EQ(PwlMeasure(nullptr, &record, 0, &five, PwlType::EditBox), kOk);
  record.size = 10;
  ASSERT_EQ(PwlMeasure(nullptr, &record, 0, &ten, PwlType::EditBox), kOk);
  EXPECT_GT(ten.width, five.width);
  EXPECT_EQ(ten.height, five.height);
  record.flags = BenInputFlag::PixelWidth;
  record.size = 1;
  ASSERT_EQ(PwlMeasure(nullptr, &record, 0, &pixels, PwlType::EditBox), kOk);
  EXPECT_EQ(pixels.width, PwlImageOf(PwlImage::EditBox)->width + 12);
  record.kind = BenFieldKind::TextArea;
  record.flags = 0;
  record.size = 500;
  record.rows = 4;
  ASSERT_EQ(PwlMeasure(nullptr, &record, 0, &area, PwlType::TextArea), kOk);
  EXPECT_EQ(area.width, 160u - 3);
  EXPECT_GT(area.height, 3 * five.height);
  EXPECT_EQ(PwlMeasure(nullptr, nullptr, 0, &area, PwlType::TextArea), PwlClassErr::NoImage);
}

TEST_F(EditTest, AFormLooksRight) {
  PwlControl* check = Control(PwlType::CheckBox, {-1, -1, -1, -1});
  const int32_t checkAt[2] = {4, 4};
  PwlSend(check, nullptr, const_cast<int32_t*>(checkAt), 0, PwlMsg::SetRect, 0);
  PwlControl* radio = Control(PwlType::Radio, {-1, -1, -1, -1});
  const int32_t radioAt[2] = {24, 4};
  PwlSend(radio, nullptr, const_cast<int32_t*>(radioAt), 0, PwlMsg::SetRect, 0);
  PwlSend(check, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
  PwlSend(radio, nullptr, nullptr, 0, PwlMsg::Redraw, 0);

  PwlControl* button = Control(PwlType::Button, {-1, -1, -1, -1});
  auto* label = static_cast<char16_t*>(MemAlloc(10, Use::String, Mod::Pwl));
  LibcWStrCopy(label, u"Send");
  PwlSend(button, nullptr, label, 0, PwlMsg::Bind, 0);
  const int32_t buttonAt[2] = {50, 4};
  PwlSend(button, nullptr, const_cast<int32_t*>(buttonAt), kPwlButtonAtPoint, PwlMsg::SetRect, 0);

  PwlTextBox* line = Box(PwlType::EditBox, {4, 30, 150, 50});
  BindText(line, u"Hello");
  PwlTextBox* password = Box(PwlType::EditBox, {4, 56, 150, 76});
  BindText(password, u"1234");
  password->control.flags |= PwlBoxFlag::Password;
  PwlRepositionControls(root);
  PwlTextBox* viewer = Box(PwlType::TextArea, {4, 84, 150, 130});
  BindText(viewer, u"One two three four five six seven eight nine ten eleven twelve");
  PwlSend(&viewer->control, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
  PwlSetFocus(context, button, 1, 1);
  PwlRedrawRange(root);
  for (PwlControl* c : {&line->control, &password->control, &viewer->control})
    PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  EXPECT_TRUE(ScreenMatches("controls_form.png"));
}

}  // namespace
