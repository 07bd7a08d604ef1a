// The trace log's configuration dialog: one row per log entry with its time,
// id, name, console and file switches and its file name.
#pragma once

class QDialog;
class QWidget;

// Shows the dialog modally; OK applies the rows to the log. Returns the
// dialog's result (1 OK, 0 Cancel).
int LogConfigDialog(QWidget* parent);
// The same dialog, built but not shown (the caller owns it).
QDialog* LogCreateConfigDialog(QWidget* parent);
