// The main window: the skin picture, its buttons, closing.
#pragma once
#include <QTimer>
#include <QWidget>

struct HostSettings;
class DisplayWidget;

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  explicit MainWindow(HostSettings* settings);

  DisplayWidget* display() const { return display_; }
  void startRepeat(int milliseconds);
  void stopRepeat();
  // Repaints a button in its pressed or released look.
  void redrawButton(int index);
  // The text-input window's done (OK, Enter) and cancelled (Cancel, Escape).
  void textInputDone(int flag);
  void textInputCancelled(int flag);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QRect ButtonRect(int index) const;

  HostSettings* settings_;
  DisplayWidget* display_ = nullptr;
  QTimer repeat_;
};
