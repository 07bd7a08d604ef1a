// The text-input window, offscreen: the control each mode opens, the
// maximum length, how Enter, Escape and the buttons report, lists, closing
// from the frame, and the engine side without the host's window.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <vector>

#include "host/platform/textinput.h"
#include "host/qt/textinput.h"
#include "tests/support/qt_app.h"


namespace {

class TextInputWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQApplication(); }
  void SetUp() override {
    main_ = std::make_unique<QWidget>();
    main_->resize(300, 500);
    display_ = new QWidget(main_.get());
    display_->setGeometry(50, 100, 161, 241);
    display_->setFocusPolicy(Qt::StrongFocus);
    main_->show();
    QtTextInputInstall([this] { return main_.get(); }, [this] { return display_; },
                       [this](int flag) { done_.push_back(flag); },
                       [this](int flag) { cancelled_.push_back(flag); },
                       [] {}, [] {});
  }
  void TearDown() override {
    QtTextInputUninstall();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    main_.reset();
  }
  TextInputWindow* Open(uint32_t mode, const char16_t* text = u"", uint32_t maxLength = 0) {
    const TiwPlace place{10, 30, 100, 20};
    if (!TiwOpen(&session_, &place, u"Title", text, nullptr, mode, maxLength)) return nullptr;
    return QtTextInputWindow();
  }
  static std::u16string Answer() {
    std::u16string text(TiwTextLength() + 1, u'\0');
    text.resize(TiwCopyText(text.data(), static_cast<uint32_t>(text.size())));
    return text;
  }

  std::unique_ptr<QWidget> main_;
  QWidget* display_ = nullptr;
  int session_ = 0;
  std::vector<int> done_, cancelled_;
};

TEST_F(TextInputWindowTest, ModesOpenOneLineMultiLineAndPasswordEdits) {
  TextInputWindow* w = Open(0x03);
  ASSERT_NE(w, nullptr);
  const int oneLine = w->control()->height();
  TiwClose(nullptr);
  w = Open(0x02);
  ASSERT_NE(qobject_cast<QPlainTextEdit*>(w->control()), nullptr);
  EXPECT_GT(w->control()->height(), 5 * oneLine) << "seven lines high";
  TiwClose(nullptr);
  w = Open(0x04, u"secret");
  auto* line = qobject_cast<QLineEdit*>(w->control());
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Answer(), u"secret");
  EXPECT_EQ(w->windowTitle(), "Title");
}

TEST_F(TextInputWindowTest, ALongerInitialTextStandsSelectedButTypingKeepsToTheLimit) {
  TextInputWindow* w = Open(0x01, u"abcdefgh", 5);
  ASSERT_NE(w, nullptr);
  auto* line = qobject_cast<QLineEdit*>(w->editor());
  EXPECT_EQ(line->text(), "abcdefgh");
  EXPECT_EQ(line->selectedText(), "abcdefgh");
  QTest::keyClicks(line, "1234567");
  EXPECT_EQ(Answer(), u"12345");
}

TEST_F(TextInputWindowTest, EnterAndOkReportDoneEscapeAndCancelReportCancelled) {
  TextInputWindow* w = Open(0x01);
  ASSERT_NE(w, nullptr);
  QTest::keyClick(w->editor(), Qt::Key_Return);
  QTest::keyClick(w->editor(), Qt::Key_Escape);
  QTest::mouseClick(w->okButton(), Qt::LeftButton);
  QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
  EXPECT_EQ(done_, (std::vector<int>{1, 1}));
  EXPECT_EQ(cancelled_, (std::vector<int>{1, 0}));
  EXPECT_TRUE(w->isVisible()) << "only the session closes the window";
}

// The multi-line edit keeps to the limit too, and Enter confirms it.
TEST_F(TextInputWindowTest, TheMultiLineEditKeepsToTheLimitAndEnterConfirmsIt) {
  TextInputWindow* w = Open(0x02, u"", 4);
  ASSERT_NE(w, nullptr);
  QTest::keyClicks(w->editor(), "abcdef");
  QTest::keyClick(w->editor(), Qt::Key_Enter);
  EXPECT_EQ(done_, std::vector<int>{1});
  EXPECT_EQ(Answer(), u"abcd");
}

TEST_F(TextInputWindowTest, ListsOfSingleAndMultipleChoice) {
  const TiwItem items[] = {{u"red", 0}, {u"green", 1}, {u"blue", 1}};
  ASSERT_NE(TiwOpenList(&session_, u"Colour", items, TiwMode::Multiple, 3), nullptr);
  auto* list = qobject_cast<QListWidget*>(QtTextInputWindow()->control());
  ASSERT_EQ(list->count(), 3);
  std::vector<uint32_t> chosen(TiwSelectedCount());
  chosen.resize(TiwSelectedItems(chosen.data(), static_cast<uint32_t>(chosen.size())));
  EXPECT_EQ(chosen, (std::vector<uint32_t>{1, 2}));
  TiwClose(nullptr);

  ASSERT_NE(TiwOpenList(&session_, u"Colour", items, TiwMode::Single, 3), nullptr);
  EXPECT_EQ(TiwCurrentItem(), 2) << "the last item marked is current";
}

// Closing the window from its frame is a cancel; the window stays until
// the session closes it.
TEST_F(TextInputWindowTest, ClosingFromTheFrameIsACancel) {
  TextInputWindow* w = Open(0x01);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->close());
  EXPECT_EQ(cancelled_, std::vector<int>{0});
  EXPECT_EQ(QtTextInputWindow(), w);
  EXPECT_EQ(Open(0x01), nullptr) << "one window at a time";
  TiwClose(nullptr);
  EXPECT_EQ(QtTextInputWindow(), nullptr);
  // Without an owner's box the window is placed on its own.
  EXPECT_NE(TiwOpen(&session_, nullptr, u"T", nullptr, nullptr, 0x01, 0), nullptr);
  EXPECT_EQ(TiwOpenType(), TiwType::Line);
}

// Without an owner's box (a popup's text entry) the window stands in the
// middle of the handset's screen, whatever the skin around it: the band of
// soft keys along the screen's bottom, with the title the window puts there,
// stays in view below it. A window with a box stands over the box.
TEST_F(TextInputWindowTest, WithoutAnOwnersBoxTheWindowStandsInTheMiddleOfTheScreen) {
  constexpr int kBand = 16;
  struct Row {
    const char* name;
    uint32_t mode;
  };
  for (const Row& row : {Row{"line", 0x01}, Row{"password", 0x04}, Row{"multi-line", 0x02}}) {
    SCOPED_TRACE(row.name);
    ASSERT_NE(TiwOpen(&session_, nullptr, u"PIN", nullptr, nullptr, row.mode, 0), nullptr);
    TextInputWindow* w = QtTextInputWindow();
    ASSERT_NE(w, nullptr);
    const QRect screen(display_->mapToGlobal(QPoint(0, 0)), display_->size());
    // The frame the window system adds may shift it by a pixel or two.
    const QRect window = w->frameGeometry();
    EXPECT_LE(std::abs(window.center().x() - screen.center().x()), 3);
    EXPECT_LE(std::abs(window.center().y() - screen.center().y()), 3);
    EXPECT_LT(window.bottom(), screen.bottom() - kBand) << "the window hides the band";
    TiwClose(nullptr);
  }
  TextInputWindow* w = Open(0x01);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->frameGeometry().topLeft(), display_->mapToGlobal(QPoint(11, 31)));
  TiwClose(nullptr);
}

// Without the host's window nothing opens and the answers are empty.
TEST_F(TextInputWindowTest, WithoutTheHostsWindowNothingOpens) {
  QtTextInputUninstall();
  EXPECT_EQ(Open(0x01, u"text"), nullptr);
  EXPECT_EQ(TiwOpenSession(), nullptr);
  char16_t text[4] = {u'x', u'x', 0, 0};
  uint32_t items[2] = {7, 7};
  EXPECT_EQ(TiwTextLength(), 0u);
  EXPECT_EQ(TiwCopyText(text, 4), 0u);
  EXPECT_EQ(text[0], u'\0');
  EXPECT_EQ(TiwCopyText(nullptr, 4), 0u);
  EXPECT_EQ(TiwCurrentItem(), -1);
  EXPECT_EQ(TiwSelectedCount(), 0u);
  EXPECT_EQ(TiwSelectedItems(items, 2), 0u);
  EXPECT_EQ(items[0], 7u);
  TiwClose(nullptr);
}

}  // namespace
