#include "host/qt/qthost.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDialog>
#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>

#include "host/hostinput.h"
#include "host/hostloop.h"
#include "host/hosttextinput.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/fontft.h"
#include "host/platform/platform.h"
#include "host/platform/say.h"
#include "host/platform/shell.h"
#include "host/qt/displaywidget.h"
#include "host/qt/fontdialog.h"
#include "host/qt/langdialog.h"
#include "host/qt/mainwindow.h"
#include "host/qt/soundqt.h"
#include "host/qt/textinput.h"
#include "host/shellhost.h"
#include "host/skin.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"

namespace {

struct QtHost {
  QtHostHooks hooks;
  MainWindow* main = nullptr;
  QTimer* tick = nullptr;
  bool quit = false;
};

QtHost* gHost = nullptr;
// The modal dialog the host runs, if any, and whether a signal asked to stop.
QPointer<QDialog> gModal;
bool gStopAsked = false;

QtHost* Self(void* ctx) { return static_cast<QtHost*>(ctx); }

// ---- platform operations ---------------------------------------------------

void Invalidate(void* ctx, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  QtHost* host = Self(ctx);
  if (host->main && host->main->display() && right >= left && bottom >= top)
    host->main->display()->update(left, top, right - left + 1, bottom - top + 1);
}

int StartTick(void* ctx) {
  QtHost* host = Self(ctx);
  if (!host->tick) return 1;
  host->tick->start();
  return 0;
}

void StopTick(void* ctx) {
  if (QtHost* host = Self(ctx); host->tick) host->tick->stop();
}

void MessageBox(void* ctx, const char* title, const char* text) {
  QtHost* host = Self(ctx);
  if (host->hooks.messageBox) {
    host->hooks.messageBox(title, text);
    return;
  }
  PlatformSay("%s: %s\n", title, text);
  // Nobody could answer a box on a screen that is not there, and nobody
  // waits for one once the user asked to stop.
  if (!QtHostCanShowDialogs() || gStopAsked) return;
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(title), QString::fromUtf8(text),
                  QMessageBox::Ok, host->main);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  QtHostExecModal(box);
}

// Qt's own words go to standard error as the host's do.
void SayQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const QByteArray line = (qFormatLogMessage(type, context, text) + u'\n').toLocal8Bit();
  PlatformSayBytes(line.constData(), static_cast<size_t>(line.size()));
}

int64_t Now(void*) { return static_cast<int64_t>(std::time(nullptr)); }
int32_t ZoneMinutes(void*) { return QDateTime::currentDateTime().offsetFromUtc() / 60; }

// ---- input services --------------------------------------------------------

void StartRepeat(void* ctx, int32_t ms) {
  if (QtHost* host = Self(ctx); host->main) host->main->startRepeat(ms);
}
void StopRepeat(void* ctx) {
  if (QtHost* host = Self(ctx); host->main) host->main->stopRepeat();
}
void DrawButton(void* ctx, int32_t index, bool) {
  if (QtHost* host = Self(ctx); host->main) host->main->redrawButton(index);
}
void CaptureMouse(void* ctx, bool capture) {
  QtHost* host = Self(ctx);
  if (!host->main) return;
  if (capture)
    host->main->grabMouse();
  else
    host->main->releaseMouse();
}
// A modal dialog on a screen nobody sees would never be answered.
void OpenLanguageDialog(void* ctx) {
  if (QtHostCanShowDialogs()) ShellLanguageDialog(Self(ctx)->main);
}

// ---- skin pictures ---------------------------------------------------------

void* LoadImage(void*, const char* path) {
  auto* image = new QImage(QString::fromUtf8(path));
  if (image->isNull()) {
    delete image;
    return nullptr;
  }
  return image;
}
void ReleaseImage(void*, void* image) { delete static_cast<QImage*>(image); }
bool HighColour(void*) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return !screen || screen->depth() > 8;
}

// ---- the entry routine's window services ----------------------------------

bool CreateWindows(void* ctx, HostSettings* settings) {
  QtHost* host = Self(ctx);
  host->main = new MainWindow(settings);
  settings->mainWindow = host->main;
  settings->displayWindow = host->main->display();
  settings->fonts.displayWindow = host->main->display();
  FontInit(&settings->fonts);
  if (host->hooks.windowsCreated) host->hooks.windowsCreated(host->main);
  return true;
}

void ShowWindows(void* ctx) {
  QtHost* host = Self(ctx);
  if (!host->main || host->main->isVisible()) return;
  host->main->show();
  if (host->main->display()) host->main->display()->setFocus();
}

void DestroyWindows(void* ctx) {
  QtHost* host = Self(ctx);
  delete host->main;
  host->main = nullptr;
}

// Dispatches what waits, a bounded number of rounds so that a busy timer
// cannot starve the engine.
bool PumpMessages(void*) {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  bool any = false;
  for (int round = 0; round < 64 && dispatcher->processEvents(QEventLoop::AllEvents); ++round)
    any = true;
  return any;
}

void Sleep(void*, int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
bool QuitRequested(void* ctx) { return Self(ctx)->quit; }

// ---- terminal signals ------------------------------------------------------

// Ctrl+C, SIGTERM and SIGHUP (the terminal closed) are a close of the
// window, so that the stop chain runs and nothing is lost. The handler only
// writes the signal's number into a pipe that the loop watches. A HUP that
// was ignored when the host started (nohup, a daemon) stays ignored.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int number) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(number);
  [[maybe_unused]] ssize_t written = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

class SignalWatch {
 public:
  SignalWatch() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      gSignalPipe[0] = gSignalPipe[1] = -1;
      return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] { Take(); });
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
    ::sigaction(SIGHUP, nullptr, &oldHup_);
    if (oldHup_.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &action, nullptr);
  }
  ~SignalWatch() {
    if (gSignalPipe[0] < 0) return;
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    ::sigaction(SIGHUP, &oldHup_, nullptr);
    notifier_.reset();
    ::close(gSignalPipe[0]);
    ::close(gSignalPipe[1]);
    gSignalPipe[0] = gSignalPipe[1] = -1;
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  // A second Ctrl+C while the stop chain already runs ends the program as
  // it would have without us: the user's way out of a stop that hangs. A
  // second HUP or TERM joins the stop under way, for it is no user's "now":
  // a terminal that closes sends two hang-ups (the shell passes one on and
  // the terminal sends its own). A signal that comes while a dialog waits
  // for an answer closes the dialog, or the program would live on until
  // somebody did.
  static void Take() {
    unsigned char number = 0;
    while (::read(gSignalPipe[0], &number, 1) == 1) {
      HostSettings* settings = HostCurrentSettings();
      if (!settings) continue;
      if (settings->stopping) {
        if (number != SIGINT) continue;
        std::signal(number, SIG_DFL);
        std::raise(number);
        continue;
      }
      gStopAsked = true;
      if (gModal) gModal->reject();
      HostOnClose(settings);
    }
  }

  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction oldInt_{}, oldTerm_{}, oldHup_{};
};

}  // namespace

void QtHostSayStart() {
  PlatformSayStart();
  qInstallMessageHandler(SayQtMessage);
}

Result QtHostRun(const QtHostHooks& hooks) {
  QtHostSayStart();
  QtHost host;
  host.hooks = hooks;
  QTimer tick;
  tick.setInterval(static_cast<int>(kTskmanTickMs));
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [] {
    if (!ShellTickSuspended()) TskmanTimerTick();
  });
  host.tick = &tick;
  gHost = &host;

  const PlatformOps platform{&host, Invalidate, StartTick, StopTick, MessageBox, Now, ZoneMinutes};
  const PlatformOps* previous = PlatformInstall(&platform);
  const HostInputOps input{&host, StartRepeat, StopRepeat, DrawButton, CaptureMouse,
                           OpenLanguageDialog};
  HostInputInstall(&input);

  const ShellSkinImageOps images{&host, LoadImage, ReleaseImage, HighColour};
  ShellSkinInstallImageOps(&images);
  const FontChooserOps* previousChooser = FontInstallChooser(QtFontChooser());
  SoundQtInstall();
  HostServicesInstall();
  QtTextInputInstall([&host]() -> QWidget* { return host.main; },
                     [&host]() -> QWidget* { return host.main ? host.main->display() : nullptr; },
                     [&host](int flag) {
                       if (host.main) host.main->textInputDone(flag);
                     },
                     [&host](int flag) {
                       if (host.main) host.main->textInputCancelled(flag);
                     },
                     [] { HostTextInputFocused(); }, [] { HostTextInputGone(); });

  const HostShellOps shell{&host,        CreateWindows, ShowWindows, DestroyWindows,
                           PumpMessages, Sleep,         QuitRequested};
  gStopAsked = false;
  Result result;
  {
    SignalWatch signals;
    result = HostMain(shell);
  }

  tick.stop();
  ShellUnloadSkin();
  ShellSkinInstallImageOps(nullptr);
  HostServicesUninstall();
  SoundQtUninstall();
  QtTextInputUninstall();
  FontInstallChooser(previousChooser);
  HostInputInstall(nullptr);
  PlatformInstall(previous);
  gHost = nullptr;
  return result;
}

int QtHostMain() {
  QtHostSayStart();
  int argc = 1;
  char name[] = "qor";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  return HostExitStatus(QtHostRun());
}

int QtHostExecModal(QDialog& dialog) {
  QPointer<QDialog> outer = gModal;
  gModal = &dialog;
  if (gHost && gHost->hooks.dialogShown)
    QTimer::singleShot(0, &dialog, [&dialog] {
      if (gHost && gHost->hooks.dialogShown) gHost->hooks.dialogShown(&dialog);
    });
  // The engine runs on while the dialog waits, as it does when none is:
  // pushes arrive and timers run. The dialog's own loop takes the main
  // loop's passes, when the dialog came from a window event of the main
  // loop's pump; one opened from inside an engine step does not re-enter
  // it. A loop that ends (its engine stopped) closes the dialog.
  QTimer passes;
  passes.setSingleShot(true);
  QObject::connect(&passes, &QTimer::timeout, &dialog, [&dialog, &passes] {
    const int32_t next = HostLoopPassInPump();
    if (HostLoopEnding())
      dialog.reject();
    else
      passes.start(next < 0 ? 10 : next);
  });
  if (HostLoopInPump()) passes.start(0);
  const int result = dialog.exec();
  gModal = outer;
  return result;
}

bool QtHostCanShowDialogs() {
  return QGuiApplication::platformName() != "offscreen" || (gHost && gHost->hooks.dialogShown);
}

bool QtHostStopAsked() { return gStopAsked; }

QWidget* QtHostMainWindow() { return gHost ? gHost->main : nullptr; }
QWidget* QtHostDisplayWindow() { return gHost && gHost->main ? gHost->main->display() : nullptr; }
void QtHostRequestQuit() {
  if (gHost) gHost->quit = true;
}
