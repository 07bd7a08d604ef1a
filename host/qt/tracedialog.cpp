#include "host/qt/tracedialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <array>
#include <vector>

#include "host/qt/qthost.h"
#include "host/trace.h"

namespace {

// The switch columns, left to right, with the flag each stands for.
struct LogColumn {
  const char* caption;
  const char* button;
  const char* key;
  uint8_t flag;
};
constexpr std::array<LogColumn, 5> kColumns = {{
    {"Log Time", "Log Time", "time", LogFlag::Time},
    {"Log   ID", "Log ID", "id", LogFlag::Id},
    {"Log Name", "Log Name", "name", LogFlag::Name},
    {"Log to cons.", "Log to cons.", "console", LogFlag::Console},
    {"Log to file", "Log to file", "file", LogFlag::File},
}};

struct LogRow {
  LogEntry entry;
  std::array<QCheckBox*, kColumns.size()> boxes;
  QLineEdit* file;
};

}  // namespace

QDialog* LogCreateConfigDialog(QWidget* parent) {
  auto* dialog = new QDialog(parent);
  dialog->setWindowTitle("Log Configuration");
  auto* outer = new QVBoxLayout(dialog);

  auto* table = new QWidget;
  auto* grid = new QGridLayout(table);
  grid->addWidget(new QLabel("Module"), 0, 0);
  for (size_t c = 0; c < kColumns.size(); ++c)
    grid->addWidget(new QLabel(kColumns[c].caption), 0, static_cast<int>(c) + 1);
  grid->addWidget(new QLabel("Log File Name"), 0, static_cast<int>(kColumns.size()) + 1);

  auto rows = std::make_shared<std::vector<LogRow>>();
  for (const LogEntry& entry : LogEntries()) {
    LogRow row{entry, {}, nullptr};
    int r = static_cast<int>(rows->size()) + 1;
    grid->addWidget(new QLabel(QString::fromStdString(entry.name)), r, 0);
    for (size_t c = 0; c < kColumns.size(); ++c) {
      auto* box = new QCheckBox;
      box->setObjectName(QString("%1-%2").arg(kColumns[c].key).arg(r - 1));
      box->setChecked(entry.flags & kColumns[c].flag);
      grid->addWidget(box, r, static_cast<int>(c) + 1, Qt::AlignCenter);
      row.boxes[c] = box;
    }
    row.file = new QLineEdit(QString::fromStdString(entry.file));
    row.file->setObjectName(QString("path-%1").arg(r - 1));
    row.file->setMaxLength(255);
    grid->addWidget(row.file, r, static_cast<int>(kColumns.size()) + 1);
    rows->push_back(row);
  }
  grid->setRowStretch(static_cast<int>(rows->size()) + 1, 1);
  auto* scroll = new QScrollArea;
  scroll->setWidget(table);
  scroll->setWidgetResizable(true);
  outer->addWidget(scroll, 1);

  // Each button sets its whole column to the opposite of the first row.
  auto* all = new QGroupBox("All Modules");
  auto* allButtons = new QHBoxLayout(all);
  for (size_t c = 0; c < kColumns.size(); ++c) {
    auto* button = new QPushButton(kColumns[c].button);
    allButtons->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, dialog, [rows, c] {
      if (rows->empty()) return;
      bool on = !(*rows)[0].boxes[c]->isChecked();
      for (LogRow& row : *rows) row.boxes[c]->setChecked(on);
    });
  }
  outer->addWidget(all);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  outer->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  QObject::connect(dialog, &QDialog::accepted, dialog, [rows] {
    for (const LogRow& row : *rows) {
      uint8_t flags = row.entry.flags;
      for (size_t c = 0; c < kColumns.size(); ++c)
        flags = row.boxes[c]->isChecked() ? flags | kColumns[c].flag : flags & ~kColumns[c].flag;
      LogSetFlags(row.entry.id, flags);
      if (row.file->isModified()) LogSetFile(row.entry.id, row.file->text().toStdString());
    }
  });
  dialog->resize(760, 420);
  return dialog;
}

int LogConfigDialog(QWidget* parent) {
  QDialog* dialog = LogCreateConfigDialog(parent);
  // The host's one modal path: a terminal signal closes it.
  int result = QtHostExecModal(*dialog);
  delete dialog;
  return result;
}
