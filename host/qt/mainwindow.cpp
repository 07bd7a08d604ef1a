#include "host/qt/mainwindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "host/hostinput.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/hosttextinput.h"
#include "host/platform/shell.h"
#include "host/qt/displaywidget.h"
#include "host/skin.h"

namespace {
// A desktop shorter than the skin shows it in a window this high, from this
// row of the picture down.
constexpr int kShortDesktopHeight = 500;
constexpr int kShortDesktopCropRow = 54;

const QImage* SkinImage(void* bitmap) { return static_cast<const QImage*>(bitmap); }
}  // namespace

MainWindow::MainWindow(HostSettings* settings) : settings_(settings) {
  setWindowTitle("QOR v3");
  repeat_.setSingleShot(true);
  connect(&repeat_, &QTimer::timeout, this, [this] { HostRepeatTimer(settings_); });
  const HostRect& d = settings->display;
  if (const QImage* skin = ShellSkinLoaded() ? SkinImage(ShellSkinBitmap()) : nullptr) {
    int height = skin->height();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->availableGeometry().height() < skin->height()) {
      height = kShortDesktopHeight;
      settings->skinCropRow = kShortDesktopCropRow;
    }
    setFixedSize(skin->width(), height);
    ShellSetSoftKeyMode(settings->softKeys, settings->softKeySwap);
    ShellSetScrollStep(settings->scrollStep);
  } else {
    // The host has told the user already. Without a picture the window frames
    // the screen at its phone-size place.
    setFixedSize(d.x * 2 + d.width + 1, d.y + d.height + 1 + d.x);
  }
  // The engine always gets a screen, and the screen is always shown.
  HostCreateFrameBuffer(settings);
  display_ = new DisplayWidget(settings, this);
  display_->setGeometry(d.x, d.y - settings->skinCropRow, d.width + 1, d.height + 1);
  display_->show();
  display_->setFocus();
}

void MainWindow::startRepeat(int milliseconds) { repeat_.start(milliseconds); }
void MainWindow::stopRepeat() { repeat_.stop(); }

QRect MainWindow::ButtonRect(int index) const {
  const ShellSkinButton& b = ShellSkinButtons()[index];
  return QRect(b.drawX, b.drawY - settings_->skinCropRow, b.drawWidth, b.drawHeight);
}

void MainWindow::redrawButton(int index) {
  if (index >= 0 && index < kShellSkinButtonCount) update(ButtonRect(index));
}

// The session checks the answer; one it refuses keeps the window open for
// the user to correct.
void MainWindow::textInputDone(int flag) { HostTextInputDone(flag); }
void MainWindow::textInputCancelled(int flag) { HostTextInputCancelled(flag); }

void MainWindow::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QImage* skin = ShellSkinLoaded() ? SkinImage(ShellSkinBitmap()) : nullptr;
  if (!skin) {
    painter.fillRect(event->rect(), palette().window());
    return;
  }
  const int crop = settings_->skinCropRow;
  painter.drawImage(event->rect().topLeft(), *skin, event->rect().translated(0, crop));
  const int pressed = settings_->pressedButton;
  if (pressed >= 0 && pressed < kShellSkinButtonCount) {
    if (const QImage* look = SkinImage(ShellSkinButtonBitmap(pressed))) {
      const QRect target = ButtonRect(pressed);
      painter.drawImage(target.topLeft(), *look, target.translated(0, crop));
    }
  }
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
