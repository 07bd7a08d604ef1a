// The main window: the skin, its buttons, closing.
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

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  HostSettings* settings_;
  DisplayWidget* display_ = nullptr;
  QTimer repeat_;
};
