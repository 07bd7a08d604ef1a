// Runs the emulator without a display: starts the real host offscreen, saves
// what the main window shows to a PNG after a few seconds, and closes it.
// Used by ./run on a machine without a display. It ends as the emulator
// does (status 1 when a file could not be saved), and with 1 also when no
// screenshot was kept, which it says with the reason.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <string>

#include "host/hostmain.h"
#include "host/platform/say.h"
#include "host/qt/qthost.h"
#include "kernel/uistart.h"

int main(int argc, char** argv) {
  QtHostSayStart();
  const std::string out = argc > 1 ? argv[1] : "qor-screenshot.png";
  const int seconds = argc > 2 ? std::stoi(argv[2]) : 3;
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);
  app.setQuitOnLastWindowClosed(false);
  bool taken = false, saved = false;
  QtHostHooks hooks;
  hooks.windowsCreated = [&](QWidget* main) {
    QTimer::singleShot(seconds * 1000, main, [&, main] {
      taken = true;
      saved = main->grab().save(QString::fromStdString(out));
      main->close();
    });
  };
  Result result = QtHostRun(hooks);
  if (saved)
    PlatformSayOut("screenshot: %s\n", out.c_str());
  else if (taken)
    PlatformSay("qor_snapshot: no screenshot was kept: it could not be written to %s\n",
                out.c_str());
  else
    PlatformSay("qor_snapshot: no screenshot was kept: the emulator stopped before it was taken\n");
  return saved ? HostExitStatus(result) : 1;
}
