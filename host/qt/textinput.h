// The text-input window: a tool window over the owner control on the
// handset screen, with a one-line, password or multi-line edit, an editable
// combo box or a list of single or multiple choice, and "OK" and "Cancel".
// Enter and "OK" report done, Escape and "Cancel" report cancelled; the main
// window is blocked while it is open, the input window is not.
#pragma once
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

struct TiwWindowSpec;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

class TextInputWindow : public QWidget {
  Q_OBJECT
 public:
  // Over `display` (the handset screen): at the request's place, else
  // centred (over `owner`, the main window, when there is no display). It
  // blocks `owner`.
  TextInputWindow(const TiwWindowSpec& spec, QWidget* owner, QWidget* display);

  int32_t type() const { return type_; }
  // The control: the edit, the combo box or the list.
  QWidget* control() const { return control_; }
  // The widget typed into: the edit, or the combo box's edit; null for lists.
  QWidget* editor() const { return editor_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

  QString text() const;
  int32_t currentItem() const;
  std::vector<uint32_t> selectedItems() const;

 Q_SIGNALS:
  void done(int flag);
  void cancelled(int flag);
  // The window became the active one: it has the keyboard focus.
  void focused();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void LimitMultiLine();

  int32_t type_;
  uint32_t maxLength_;
  QWidget* control_ = nullptr;
  QWidget* editor_ = nullptr;
  QLineEdit* line_ = nullptr;
  QPlainTextEdit* multi_ = nullptr;
  QComboBox* combo_ = nullptr;
  QListWidget* list_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  int multiAllowed_ = 0;  // the multi-line edit's limit while a longer initial text stands
  bool limiting_ = false;
};

// Installs the window as the platform's text-input window. `owner` gives the
// main window and `display` the handset screen when a window opens; done and
// cancelled reach the two callbacks, and so do the window taking the focus
// (`focused`) and its closing (`gone`).
void QtTextInputInstall(std::function<QWidget*()> owner, std::function<QWidget*()> display,
                        std::function<void(int)> done, std::function<void(int)> cancelled,
                        std::function<void()> focused = {}, std::function<void()> gone = {});
void QtTextInputUninstall();
// The open window, or null.
TextInputWindow* QtTextInputWindow();
