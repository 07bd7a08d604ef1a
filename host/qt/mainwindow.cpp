#include "host/qt/mainwindow.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>

#include "host/hostinput.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/platform/shell.h"
#include "host/qt/displaywidget.h"
#include "host/skin.h"

MainWindow::MainWindow(HostSettings* settings) : settings_(settings) {
  setWindowTitle("QOR v3");
  repeat_.setSingleShot(true);
  connect(&repeat_, &QTimer::timeout, this, [this] { HostRepeatTimer(settings_); });
  const HostRect& d = settings->display;
  // Without a skin picture the window is just large enough to frame the screen.
  setFixedSize(d.x * 2 + d.width + 1, d.y + d.height + 1 + d.x);
  if (ShellSkinLoaded()) {
    display_ = new DisplayWidget(settings, this);
    display_->setGeometry(d.x, d.y, d.width + 1, d.height + 1);
    display_->show();
    display_->setFocus();
    HostCreateFrameBuffer(settings);
    ShellSetSoftKeyMode(settings->softKeys, settings->softKeySwap);
    ShellSetScrollStep(settings->scrollStep);
  } else {
    HostMessageBox(
        "No skin bitmaps found! Skin setup information should be specified via your qor.ini "
        "file by including a line \"skin=<skin ini filename>\" in the [Display] section of "
        "qor.ini. Check out the example skin initialisation files for information about their "
        "correct structure.");
    // The engine still gets a screen to draw into, though nothing shows it.
    HostCreateFrameBuffer(settings);
  }
}

void MainWindow::startRepeat(int milliseconds) { repeat_.start(milliseconds); }
void MainWindow::stopRepeat() { repeat_.stop(); }

void MainWindow::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), palette().window());
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint();
  HostButtonDown(settings_, p.x(), p.y() + settings_->skinCropRow, false);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint();
  HostButtonDown(settings_, p.x(), p.y() + settings_->skinCropRow, true);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) HostButtonUp(settings_, false);
}

// Closing asks the engine to stop; the window goes when the engine has.
void MainWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  HostOnClose(settings_);
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && display_)
    display_->setFocus();
  QWidget::changeEvent(event);
}
