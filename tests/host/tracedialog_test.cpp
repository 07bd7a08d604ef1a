// The log configuration dialog, offscreen: the column buttons flip whole
// columns and OK applies.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "host/qt/tracedialog.h"
#include "host/trace.h"
#include "kernel/modules.h"
#include "tests/support/qt_app.h"


namespace {

class TraceDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQApplication(); }
  void SetUp() override {
    const LogEntry entries[] = {{kLogDefaultId, "All", LogFlag::Console | LogFlag::Time, "all.log", 7},
                                {Mod::Cache, "Cache", LogFlag::File, "", 12}};
    ASSERT_EQ(LogStart(entries, 2), 0);
    dialog.reset(LogCreateConfigDialog(nullptr));
  }
  void TearDown() override {
    dialog.reset();
    LogStop();
  }
  template <class W>
  W* Find(const char* name) {
    W* w = dialog->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QPushButton* Button(const char* text) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
      if (b->text() == text) return b;
    ADD_FAILURE() << text;
    return nullptr;
  }

  std::unique_ptr<QDialog> dialog;
};

TEST_F(TraceDialogTest, OkAppliesSwitchesColumnsAndFileNames) {
  Find<QCheckBox>("id-1")->click();
  Button("Log Time")->click();  // the first row has it: the column goes off
  Button("Log to file")->click();  // the first row has not: the column goes on
  QLineEdit* path = Find<QLineEdit>("path-1");
  path->selectAll();
  path->insert("cache.log");
  dialog->accept();
  EXPECT_EQ(LogGetFlags(kLogDefaultId), LogFlag::Console | LogFlag::File);
  EXPECT_EQ(LogGetFlags(Mod::Cache), LogFlag::Id | LogFlag::File);
  std::vector<LogEntry> entries = LogEntries();
  EXPECT_EQ(entries[1].file, "cache.log");
  EXPECT_EQ(entries[0].file, "all.log");
  EXPECT_EQ(entries[1].colour, 12);
}

}  // namespace
