// The Qt host: the platform operations, the windows and the loop's message
// pump on top of Qt Widgets.
#pragma once
#include <functional>
#include <string>

#include "kernel/modules.h"

class QDialog;
class QWidget;

// What a driver of the host (the emulator itself, a test, the screenshot
// tool) may hook into.
struct QtHostHooks {
  // Called once the main window (and the display window, with a skin) exist;
  // they are shown once the start has passed the modem and the bridge.
  std::function<void(QWidget* mainWindow)> windowsCreated;
  // Replaces the message box: called instead of showing one.
  std::function<void(const std::string& title, const std::string& text)> messageBox;
  // Called once a modal dialog of the host (a message box, the font
  // chooser, the language dialog) is open. With it set the dialogs open
  // even offscreen, since whoever set it answers them.
  std::function<void(QWidget* dialog)> dialogShown;
};

// Sends Qt's messages to standard error through the host's one writer, which
// no reader that went or stopped can end or hold (SIGPIPE is ignored from
// here on). The host's programs call it before their QApplication, so that
// Qt's words at start are taken so too; running the host calls it again.
void QtHostSayStart();
// Runs the host in the existing QApplication until the engine has stopped.
Result QtHostRun(const QtHostHooks& hooks = {});
// Creates the application and runs the host; the process exit status.
int QtHostMain();

// Runs a modal dialog of the host: its result. Ctrl+C or SIGTERM while it
// is open closes it (rejected) and asks the host to stop. One opened from a
// window event keeps the engine running while it waits, and closes when the
// engine has stopped.
int QtHostExecModal(QDialog& dialog);
// Whether a modal dialog could be answered: not on the offscreen platform,
// unless a driver watches the dialogs.
bool QtHostCanShowDialogs();
// A terminal signal asked the host to stop: start-up dialogs are not opened
// again.
bool QtHostStopAsked();

QWidget* QtHostMainWindow();
QWidget* QtHostDisplayWindow();
// Ends the main loop after the current pass, whatever the engine does.
void QtHostRequestQuit();
