#include "host/qt/displaywidget.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "host/hostinput.h"
#include "host/hostsettings.h"
#include "host/platform/shell.h"

namespace {

HostKey KeyOf(const QKeyEvent* event, bool* shift) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  *shift = mods & Qt::ShiftModifier;
  switch (event->key()) {
    case Qt::Key_F2: return HostKey::F2;
    case Qt::Key_F3: return HostKey::F3;
    case Qt::Key_F4: return HostKey::F4;
    case Qt::Key_F8: return HostKey::F8;
    case Qt::Key_F9: return HostKey::F9;
    case Qt::Key_Home: return HostKey::Home;
    case Qt::Key_End: return HostKey::End;
    case Qt::Key_Return:
    case Qt::Key_Enter: return HostKey::Enter;
    case Qt::Key_Left: return HostKey::Left;
    case Qt::Key_Right: return HostKey::Right;
    case Qt::Key_Up: return HostKey::Up;
    case Qt::Key_Down: return HostKey::Down;
    case Qt::Key_PageUp: return HostKey::PageUp;
    case Qt::Key_PageDown: return HostKey::PageDown;
    case Qt::Key_Delete: return HostKey::Delete;
    case Qt::Key_Backspace: return HostKey::Backspace;
    // The desktop reports the shifted character, not the digit key under it.
    case Qt::Key_Asterisk:
      if (mods & Qt::KeypadModifier) return HostKey::NumpadMultiply;
      *shift = true;
      return HostKey::Digit8;
    case Qt::Key_NumberSign:
      *shift = true;
      return HostKey::Digit3;
    case Qt::Key_8: return HostKey::Digit8;
    case Qt::Key_3: return HostKey::Digit3;
    default: return HostKey::Other;
  }
}

}  // namespace

DisplayWidget::DisplayWidget(HostSettings* settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::ArrowCursor);
}

// The handset wants every key, Tab included, rather than the desktop's focus
// navigation.
bool DisplayWidget::event(QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    keyPressEvent(static_cast<QKeyEvent*>(event));
    return true;
  }
  return QWidget::event(event);
}

void DisplayWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const ShellScreen& screen = ShellGetScreen();
  if (screen.pixels) {
    QImage frame(reinterpret_cast<const uchar*>(screen.pixels), screen.width, screen.height,
                 screen.pitch * 2, QImage::Format_RGB16);
    painter.drawImage(event->rect().topLeft(), frame, event->rect());
  } else {
    painter.fillRect(event->rect(), Qt::white);
  }
}

void DisplayWidget::keyPressEvent(QKeyEvent* event) {
  bool shift = false;
  HostKey key = KeyOf(event, &shift);
  HostKeyDown(settings_, key, shift);
  const QString text = event->text();
  if (!text.isEmpty() && text.at(0).isPrint()) HostCharTyped(settings_, text.at(0).unicode());
}

void DisplayWidget::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  bool shift = false;
  HostKeyUp(settings_, KeyOf(event, &shift));
}

void DisplayWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint();
  HostDisplayTap(settings_, p.x(), p.y());
}
