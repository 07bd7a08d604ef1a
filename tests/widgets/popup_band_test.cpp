// Popups and the browser window's soft-key band: the real UI task draws the
// labels of the popup on top in the band at the bottom of the screen, and
// hands the handset keys to that popup.
#include <string>
#include <vector>

#include "browser/ui.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "kernel/uistring.h"
#include "tests/support/recorder.h"
#include "tests/widgets/fake_text_window.h"
#include "tests/widgets/pwl_fixture.h"
#include "widgets/popup.h"

namespace {

constexpr int32_t kBandTop = 224;

class PopupBandTest : public PwlFixture {
 protected:
  PopupBandTest() {
    realClasses = true;
    withFonts = true;
  }
  void SetUp() override {
    PwlFixture::SetUp();
    window.Install();
    ASSERT_EQ(UiCreate(""), kOk);
    Pump();
    ui = UiGetWindow();
    ASSERT_NE(ui, nullptr);
  }
  void TearDown() override {
    while (TskmanTask* popup = TskmanFind(Mod::Popup)) TskmanSend(popup, TskMsg::Stop2, 0, 0);
    if (TskmanTask* task = TskmanFind(Mod::Ui)) TskmanSend(task, UiMsg::Command, UiCmd::End, 0);
    Pump();
    window.Remove();
    PwlFixture::TearDown();
  }
  // The band's pixels, row by row.
  std::vector<uint16_t> BandPixels() const {
    std::vector<uint16_t> out;
    for (int32_t y = kBandTop; y < 240; ++y)
      for (int32_t x = 0; x < 160; ++x) out.push_back(platform->Pixel(x, y));
    return out;
  }
  // Pixels that are not white in the band between the columns.
  int InkInBand(int32_t left, int32_t right) const {
    int n = 0;
    for (int32_t y = kBandTop; y < 240; ++y)
      for (int32_t x = left; x <= right; ++x) n += platform->Pixel(x, y) != 0xFFFF;
    return n;
  }
  std::u16string Label(int which) const {
    return ui->labels[which] ? std::u16string(ui->labels[which]) : std::u16string();
  }
  void Command(int32_t command) {
    TskmanPost(TskmanFind(Mod::Ui), UiMsg::Command, static_cast<uintptr_t>(command), 0);
    Pump();
  }
  static std::vector<Received> Answers(const Recorder& r) {
    std::vector<Received> out;
    for (const Received& e : r.log)
      if (e.message == PwlEvent::PopupAnswer) out.push_back(e);
    return out;
  }

  FakeTextWindow window;
  UiWindow* ui = nullptr;
};

// A question shows with its labels; another module asks for a popup and
// gives it up in the same turn, before the popup's start came: the band
// keeps the question's labels, pixel for pixel, and its keys still answer.
TEST_F(PopupBandTest, APopupGivenUpBeforeItShowedLeavesTheBandOfThePopupShowing) {
  struct Row {
    const char* name;
    uint32_t kind;
  };
  for (const Row& row : {Row{"message", PopupKind::Message}, Row{"confirm", PopupKind::Confirm},
                         Row{"list", PopupKind::List}, Row{"text entry", PopupKind::Text}}) {
    SCOPED_TRACE(row.name);
    Recorder question(Mod::TestHarness), script(Mod::TestCode);
    ASSERT_EQ(PopupConfirm(u"Take the new settings?", nullptr, nullptr, question.task()), kOk);
    Pump();
    ASSERT_EQ(Label(0), UiGetString(13, 12));
    ASSERT_EQ(Label(1), UiGetString(13, 13));
    ASSERT_GT(InkInBand(0, 27), 0);
    ASSERT_GT(InkInBand(132, 159), 0);
    const std::vector<uint16_t> band = BandPixels();
    const std::vector<uint16_t> screen = platform->screen;

    PopupListItem items[] = {{const_cast<char16_t*>(u"One"), 0}};
    Result opened = kOk;
    switch (row.kind) {
      case PopupKind::Message:
        opened = PopupMessage(u"Gone", script.task());
        break;
      case PopupKind::Confirm:
        opened = PopupConfirm(u"Go on?", u"Yes", u"No", script.task());
        break;
      case PopupKind::List:
        opened = PopupListMenu(u"Pick", items, 0, 1, script.task());
        break;
      default:
        opened = PopupInput(u"Name?", nullptr, nullptr, 0, script.task());
        break;
    }
    ASSERT_EQ(opened, kOk);
    PopupCloseFor(TskmanRefOf(script.task()));
    Pump();

    EXPECT_EQ(PopupFindFor(TskmanRefOf(script.task())), nullptr);
    EXPECT_EQ(window.opens, 0) << "the text entry never showed";
    EXPECT_EQ(Label(0), UiGetString(13, 12));
    EXPECT_EQ(Label(1), UiGetString(13, 13));
    EXPECT_TRUE(BandPixels() == band) << "the band changed";
    EXPECT_TRUE(platform->screen == screen) << "the screen changed";
    EXPECT_EQ(PopupShowingMark, 1u);

    Command(UiCmd::Soft1);
    const auto answers = Answers(question);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].arg1, 1u);
    EXPECT_EQ(answers[0].arg2, 1u);
    EXPECT_TRUE(Answers(script).empty());
    EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
    EXPECT_EQ(Label(0), u"");
    EXPECT_EQ(Label(1), u"");
  }
}

// Popups over one another, shown or given up, closed in every order: the
// band shows the labels of the popup then on top, the page's when none was
// ever shown over them, or none once the last shown popup went. Each letter
// of a row's steps: q, s, m open the question (a confirm), the script's
// confirm and a message; Q, S, M close them from outside; L offers the
// page's labels; 1 takes one message of the task ring; p takes all.
TEST_F(PopupBandTest, StackedPopupsLeaveTheLabelsOfThePopupOnTop) {
  const std::u16string ok = UiGetString(13, 12), cancel = UiGetString(13, 13);
  const std::u16string done = PwlLabelText(14);
  struct Row {
    const char* steps;
    std::u16string left, right;
  };
  const Row rows[] = {
      {"qpspSp", ok, cancel},
      {"qpspQp", u"Yes", u"No"},
      {"qpspQpSp", u"", u""},
      {"qpspSpQp", u"", u""},
      {"qpsQp", u"Yes", u"No"},
      {"qps1Sp", ok, cancel},
      {"qpsp1Sp", ok, cancel},
      {"qpspmpSp", done, u""},
      {"qpspmpMp", u"Yes", u"No"},
      {"qpspmpSpMp", ok, cancel},
      {"qpsmSp", done, u""},
      {"qpsmMp", u"Yes", u"No"},
      {"qpsmSMp", ok, cancel},
      {"LpsSp", u"Menu", u"Back"},
      {"LpmMp", u"Menu", u"Back"},
      {"LpspSp", u"", u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.steps);
    Recorder question(Mod::TestHarness), script(Mod::TestCode), message(Mod::TestCode);
    for (const char* c = row.steps; *c; ++c) {
      switch (*c) {
        case 'q':
          ASSERT_EQ(PopupConfirm(u"Take the new settings?", nullptr, nullptr, question.task()), kOk);
          break;
        case 's':
          ASSERT_EQ(PopupConfirm(u"Go on?", u"Yes", u"No", script.task()), kOk);
          break;
        case 'm':
          ASSERT_EQ(PopupMessage(u"Done", message.task()), kOk);
          break;
        case 'Q':
          PopupCloseFor(TskmanRefOf(question.task()));
          break;
        case 'S':
          PopupCloseFor(TskmanRefOf(script.task()));
          break;
        case 'M':
          PopupCloseFor(TskmanRefOf(message.task()));
          break;
        case 'L':
          TskmanPost(TskmanFind(Mod::Ui), PwlEvent::Labels, reinterpret_cast<uintptr_t>(u"Menu"),
                     reinterpret_cast<uintptr_t>(u"Back"));
          break;
        case '1':
          TskmanStep();
          break;
        default:
          Pump();
          break;
      }
    }
    EXPECT_EQ(Label(0), row.left);
    EXPECT_EQ(Label(1), row.right);
    EXPECT_EQ(PopupShowingMark, TskmanFind(Mod::Popup) ? 1u : 0u);
    while (TskmanTask* popup = TskmanFind(Mod::Popup)) TskmanSend(popup, TskMsg::Stop2, 0, 0);
    TskmanPost(TskmanFind(Mod::Ui), PwlEvent::ClearLabels, 0, 0);
    Pump();
  }
}

}  // namespace
