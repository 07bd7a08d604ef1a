// The display window: the handset screen. Paints the engine's frame buffer
// and turns desktop keys and clicks into handset commands.
#pragma once
#include <QWidget>

struct HostSettings;

class DisplayWidget : public QWidget {
  Q_OBJECT
 public:
  DisplayWidget(HostSettings* settings, QWidget* parent);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  HostSettings* settings_;
};
