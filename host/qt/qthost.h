// The Qt host: the platform operations, the windows and the loop's message
// pump on top of Qt Widgets.
#pragma once
#include <functional>
#include <string>

#include "kernel/modules.h"

class QWidget;

// What a driver of the host (the emulator itself, a test, the screenshot
// tool) may hook into.
struct QtHostHooks {
  // Called once the main window (and the display window, with a skin) exist.
  std::function<void(QWidget* mainWindow)> windowsCreated;
  // Replaces the message box: called instead of showing one.
  std::function<void(const std::string& title, const std::string& text)> messageBox;
};

// Runs the host in the existing QApplication until the engine has stopped.
Result QtHostRun(const QtHostHooks& hooks = {});
// Creates the application and runs the host; the process exit status.
int QtHostMain();

QWidget* QtHostMainWindow();
QWidget* QtHostDisplayWindow();
// Ends the main loop after the current pass, whatever the engine does.
void QtHostRequestQuit();
