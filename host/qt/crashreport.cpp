// qor_crashreport: the report program a failing emulator starts. It reads the
// crash record on standard input, resolves the call stack, writes the report
// to standard error and to a file in the working folder, and shows the
// report dialog unless the run is headless. Its exit code is the button:
// 3 Abort, 4 Debug, 5 Ignore.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "host/crash.h"
#include "host/crashreport.h"
#include "host/platform/say.h"

namespace {

constexpr size_t kInputMax = 1 << 20;

std::string ReadInput() {
  std::string input;
  char buf[4096];
  size_t n;
  while (input.size() < kInputMax && (n = std::fread(buf, 1, sizeof buf, stdin)) > 0)
    input.append(buf, n);
  return input;
}

// Nobody could answer a dialog on a screen that is not there.
bool Headless() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform)
    return std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(x && *x) && !(wayland && *wayland);
}

QPlainTextEdit* ReadOnlyBox(const std::string& text, bool fixedPitch) {
  // The report's lines end in CR LF; the box breaks lines at LF alone.
  auto* box = new QPlainTextEdit(QString::fromStdString(text).remove(QLatin1Char('\r')));
  box->setReadOnly(true);
  box->setLineWrapMode(fixedPitch ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  if (fixedPitch) box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return box;
}

QLineEdit* ReadOnlyLine(const std::string& text) {
  auto* line = new QLineEdit(QString::fromStdString(text));
  line->setReadOnly(true);
  return line;
}

int ShowDialog(const CrashRecord& record, const std::string& stack, const std::string& report) {
  QDialog dialog;
  dialog.setWindowTitle("HXP Assertion Failure");
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  dialog.resize(640, 480);
  auto* grid = new QGridLayout(&dialog);
  grid->addWidget(new QLabel("Assertion:"), 0, 0, Qt::AlignTop);
  QPlainTextEdit* text = ReadOnlyBox(record.text, false);
  text->setMaximumHeight(80);
  grid->addWidget(text, 0, 1);
  grid->addWidget(new QLabel("File: "), 1, 0);
  grid->addWidget(ReadOnlyLine(record.file), 1, 1);
  grid->addWidget(new QLabel("Line: "), 2, 0);
  grid->addWidget(ReadOnlyLine(std::to_string(record.line)), 2, 1);
  grid->addWidget(new QLabel("Callstack:"), 3, 0, Qt::AlignTop);
  grid->addWidget(ReadOnlyBox(stack, true), 3, 1);
  grid->setRowStretch(3, 1);

  auto* buttons = new QHBoxLayout;
  auto* abort = new QPushButton("&Abort");
  auto* debug = new QPushButton("&Debug");
  auto* ignore = new QPushButton("&Ignore");
  auto* copy = new QPushButton("&Copy");
  for (QPushButton* b : {abort, debug, ignore, copy}) buttons->addWidget(b);
  grid->addLayout(buttons, 4, 0, 1, 2);
  QObject::connect(abort, &QPushButton::clicked, [&] { dialog.done(kCrashAbort); });
  QObject::connect(debug, &QPushButton::clicked, [&] { dialog.done(kCrashDebug); });
  QObject::connect(ignore, &QPushButton::clicked, [&] { dialog.done(kCrashIgnore); });
  QObject::connect(copy, &QPushButton::clicked,
                   [&] { QGuiApplication::clipboard()->setText(QString::fromStdString(report)); });
  abort->setDefault(true);
  abort->setFocus();
  int result = dialog.exec();
  return result == QDialog::Rejected ? kCrashIgnore : result;
}

}  // namespace

int main(int argc, char** argv) {
  PlatformSayStart();
  CrashRecord record;
  if (!CrashParseRecord(ReadInput(), &record)) {
    PlatformSay("qor_crashreport: no crash record on standard input\n");
    return 1;
  }
  std::string maps;
  std::vector<CrashMapping> mappings;
  if (CrashReadMaps(record.pid, &maps)) mappings = CrashParseMaps(maps);
  std::string stack = CrashFormatStack(record, CrashResolve(record, mappings, CrashAddr2Line));
  std::string report = CrashFormatReport(record, stack);

  PlatformSayBytes(report.data(), report.size());
  std::string fileName = CrashReportFileName(record.pid);
  if (!(std::ofstream(fileName, std::ios::binary) << report))
    PlatformSay("qor_crashreport: could not write %s\n", fileName.c_str());
  else
    PlatformSay("The report is in %s.\n", fileName.c_str());

  if (Headless()) return kCrashIgnore;
  QApplication app(argc, argv);
  return ShowDialog(record, stack, report);
}
