#include "host/qt/textinput.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QValidator>
#include <algorithm>

#include "host/fontft.h"
#include "host/platform/textinput.h"

namespace {

// The edge the platform draws around an edit or list, in pixels.
constexpr int kEdge = 2;

int LinesOf(int32_t type) {
  return type == TiwType::Line || type == TiwType::Password ? 1 : 7;
}

// The handset's "BodyText" face, as the engine's own text uses it.
QFont BodyFont(const QFont& fallback) {
  QFont font = fallback;
  FontFace* face = FontCreateBodyFont();
  if (!face) return font;
  FontDescription d{};
  FontDescribeFace(face, &d);
  FontReleaseFace(&face);
  if (d.family[0]) font.setFamily(QString::fromUtf8(d.family));
  if (d.pixels > 0) font.setPixelSize(d.pixels);
  return font;
}

// A maximum length that lets an initial text longer than it stand: typing
// may shorten such a text but never make a text longer than the limit.
class LengthLimit : public QValidator {
 public:
  LengthLimit(QObject* parent, int limit, int initialLength)
      : QValidator(parent), limit_(limit), allowed_(std::max(limit, initialLength)) {}
  State validate(QString& input, int&) const override {
    const int length = static_cast<int>(input.length());
    if (length > allowed_) return Invalid;
    allowed_ = std::max(limit_, length);
    return Acceptable;
  }

 private:
  int limit_;
  mutable int allowed_;  // the limit, or the shorter of it and a longer initial text
};

}  // namespace

TextInputWindow::TextInputWindow(const TiwWindowSpec& spec, QWidget* owner, QWidget* display)
    : QWidget(owner, Qt::Tool), type_(spec.type), maxLength_(spec.maxLength) {
  setObjectName("textInputWindow");
  setWindowModality(Qt::WindowModal);
  setWindowTitle(spec.title ? QString::fromUtf16(spec.title) : QString());
  const QString initial = spec.text ? QString::fromUtf16(spec.text) : QString();
  const QFont font = BodyFont(this->font());

  switch (type_) {
    case TiwType::MultiLine:
      multi_ = new QPlainTextEdit(this);
      multi_->setLineWrapMode(QPlainTextEdit::NoWrap);
      multi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      multi_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      multi_->setPlainText(initial);
      multi_->selectAll();
      multiAllowed_ = std::max(static_cast<int>(maxLength_), static_cast<int>(initial.length()));
      connect(multi_, &QPlainTextEdit::textChanged, this, [this] { LimitMultiLine(); });
      control_ = editor_ = multi_;
      break;
    case TiwType::Combo:
      combo_ = new QComboBox(this);
      combo_->setEditable(true);
      for (uint32_t i = 0; spec.items && i < spec.itemCount; ++i)
        combo_->addItem(QString::fromUtf16(spec.items[i].text ? spec.items[i].text : u""));
      line_ = combo_->lineEdit();
      control_ = combo_;
      editor_ = line_;
      break;
    case TiwType::Single:
    case TiwType::Multiple:
      list_ = new QListWidget(this);
      list_->setSelectionMode(type_ == TiwType::Multiple ? QAbstractItemView::MultiSelection
                                                         : QAbstractItemView::SingleSelection);
      list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      for (uint32_t i = 0; spec.items && i < spec.itemCount; ++i) {
        list_->addItem(QString::fromUtf16(spec.items[i].text ? spec.items[i].text : u""));
        if (spec.items[i].flags & 1) {
          if (type_ == TiwType::Multiple)
            list_->item(static_cast<int>(i))->setSelected(true);
          else
            list_->setCurrentRow(static_cast<int>(i));
        }
      }
      control_ = list_;
      break;
    default:
      line_ = new QLineEdit(this);
      if (type_ == TiwType::Password) line_->setEchoMode(QLineEdit::Password);
      control_ = editor_ = line_;
      break;
  }
  control_->setObjectName("control");
  control_->setFont(font);
  if (line_) {
    if (maxLength_)
      line_->setValidator(new LengthLimit(line_, static_cast<int>(maxLength_),
                                          static_cast<int>(initial.length())));
    line_->setText(initial);
    line_->selectAll();
  }
  (editor_ ? editor_ : control_)->installEventFilter(this);

  ok_ = new QPushButton("OK", this);
  cancel_ = new QPushButton("Cancel", this);
  ok_->setObjectName("ok");
  cancel_->setObjectName("cancel");
  connect(ok_, &QPushButton::clicked, this, [this] { Q_EMIT done(1); });
  connect(cancel_, &QPushButton::clicked, this, [this] { Q_EMIT cancelled(0); });

  // Buttons of 50 x 14 dialog units, a pixel apart and below the control,
  // flush with its right edge.
  const QFontMetrics dialog(this->font());
  const int buttonWidth = 50 * dialog.averageCharWidth() / 4;
  const int buttonHeight = 14 * dialog.height() / 8;
  const int controlHeight = LinesOf(type_) * QFontMetrics(font).height() + 2 * kEdge;
  const int width = std::max(spec.place ? spec.place->width : 0, 2 * buttonWidth + 1);
  control_->setGeometry(0, 0, width, controlHeight);
  cancel_->setGeometry(width - buttonWidth, controlHeight + 1, buttonWidth, buttonHeight);
  ok_->setGeometry(width - 2 * buttonWidth - 1, controlHeight + 1, buttonWidth, buttonHeight);
  setFixedSize(width, controlHeight + 1 + buttonHeight);

  if (spec.place && display) {
    move(display->mapToGlobal(QPoint(spec.place->x, spec.place->y)));
  } else if (QWidget* over = display ? display : owner) {
    // Without an owner's box (a popup's text entry): the middle of the
    // handset's screen, not of the skin around it, whose middle lies low on
    // the screen, over the soft-key band and the title the window puts there.
    const QPoint centre = over->mapToGlobal(over->rect().center());
    move(std::max(0, centre.x() - this->width() / 2), std::max(0, centre.y() - height() / 2));
  }
}

QString TextInputWindow::text() const {
  if (multi_) return multi_->toPlainText();
  if (line_) return line_->text();
  return QString();
}

int32_t TextInputWindow::currentItem() const { return list_ ? list_->currentRow() : -1; }

std::vector<uint32_t> TextInputWindow::selectedItems() const {
  std::vector<uint32_t> rows;
  if (!list_) return rows;
  for (int i = 0; i < list_->count(); ++i)
    if (list_->item(i)->isSelected()) rows.push_back(static_cast<uint32_t>(i));
  return rows;
}

// Enter confirms even in the multi-line edit; Escape cancels.
bool TextInputWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        Q_EMIT done(1);
        return true;
      case Qt::Key_Escape:
        Q_EMIT cancelled(1);
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TextInputWindow::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  (editor_ ? editor_ : control_)->setFocus();
}

void TextInputWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Q_EMIT focused();
}

// The window goes only when the session closes it; closing it from its frame
// is a cancel.
void TextInputWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  Q_EMIT cancelled(0);
}

// Keeps typing in the multi-line edit within the limit, as the one-line
// edit's validator does.
void TextInputWindow::LimitMultiLine() {
  if (limiting_ || !maxLength_) return;
  int length = static_cast<int>(multi_->toPlainText().length());
  if (length > multiAllowed_) {
    limiting_ = true;
    QTextCursor cursor = multi_->textCursor();
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor,
                        length - multiAllowed_);
    cursor.removeSelectedText();
    limiting_ = false;
    length = multiAllowed_;
  }
  multiAllowed_ = std::max(static_cast<int>(maxLength_), length);
}

// ---- the platform's window -------------------------------------------------

namespace {

struct QtTextInput {
  std::function<QWidget*()> owner;
  std::function<QWidget*()> display;
  std::function<void(int)> done;
  std::function<void(int)> cancelled;
  std::function<void()> focused;
  std::function<void()> gone;
  QPointer<TextInputWindow> window;
};

QtTextInput* gInput = nullptr;

QtTextInput* Self(void* ctx) { return static_cast<QtTextInput*>(ctx); }

bool Open(void* ctx, const TiwWindowSpec* spec) {
  QtTextInput* input = Self(ctx);
  if (input->window) return false;
  auto* window = new TextInputWindow(*spec, input->owner ? input->owner() : nullptr,
                                     input->display ? input->display() : nullptr);
  QObject::connect(window, &TextInputWindow::done, [input](int flag) {
    if (input->done) input->done(flag);
  });
  QObject::connect(window, &TextInputWindow::cancelled, [input](int flag) {
    if (input->cancelled) input->cancelled(flag);
  });
  QObject::connect(window, &TextInputWindow::focused, [input] {
    if (input->focused) input->focused();
  });
  input->window = window;
  window->show();
  window->activateWindow();
  (window->editor() ? window->editor() : window->control())->setFocus();
  return true;
}

// The window may be closing from inside its own key handler: it goes once
// the handler has returned.
void Close(void* ctx) {
  QtTextInput* input = Self(ctx);
  TextInputWindow* window = input->window;
  input->window = nullptr;
  if (!window) return;
  window->hide();
  window->deleteLater();
  if (QWidget* display = input->display ? input->display() : nullptr) {
    display->show();
    display->activateWindow();
    display->setFocus();
  }
  if (input->gone) input->gone();
}

uint32_t TextLength(void* ctx) {
  TextInputWindow* window = Self(ctx)->window;
  return window ? static_cast<uint32_t>(window->text().length()) : 0;
}

uint32_t CopyText(void* ctx, char16_t* dest, uint32_t size) {
  TextInputWindow* window = Self(ctx)->window;
  const QString text = window ? window->text() : QString();
  const uint32_t n = std::min(static_cast<uint32_t>(text.length()), size - 1);
  std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), n, dest);
  dest[n] = 0;
  return n;
}

int32_t CurrentItem(void* ctx) {
  TextInputWindow* window = Self(ctx)->window;
  return window ? window->currentItem() : -1;
}

uint32_t SelectedCount(void* ctx) {
  TextInputWindow* window = Self(ctx)->window;
  return window ? static_cast<uint32_t>(window->selectedItems().size()) : 0;
}

uint32_t SelectedItems(void* ctx, uint32_t* dest, uint32_t capacity) {
  TextInputWindow* window = Self(ctx)->window;
  if (!window) return 0;
  const std::vector<uint32_t> rows = window->selectedItems();
  const uint32_t n = std::min(static_cast<uint32_t>(rows.size()), capacity);
  std::copy_n(rows.begin(), n, dest);
  return n;
}

QtTextInput gState;
const TiwOps kOps = {&gState,    Open,        Close,         TextLength,
                     CopyText,   CurrentItem, SelectedCount, SelectedItems};

}  // namespace

void QtTextInputInstall(std::function<QWidget*()> owner, std::function<QWidget*()> display,
                        std::function<void(int)> done, std::function<void(int)> cancelled,
                        std::function<void()> focused, std::function<void()> gone) {
  gState.owner = std::move(owner);
  gState.display = std::move(display);
  gState.done = std::move(done);
  gState.cancelled = std::move(cancelled);
  gState.focused = std::move(focused);
  gState.gone = std::move(gone);
  gInput = &gState;
  TiwInstall(&kOps);
}

void QtTextInputUninstall() {
  // The engine may be gone already: nobody is told of this last close.
  gState.focused = nullptr;
  gState.gone = nullptr;
  TiwClose(nullptr);
  if (gState.window) delete gState.window.data();
  TiwInstall(nullptr);
  gState = QtTextInput{};
  gInput = nullptr;
}

TextInputWindow* QtTextInputWindow() { return gInput ? gInput->window.data() : nullptr; }
