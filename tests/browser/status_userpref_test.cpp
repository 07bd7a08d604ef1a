// The status indicator and the user preference flags, each through its real
// task.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/status.h"
#include "browser/userpref.h"
#include "kernel/config.h"
#include "tests/kernel/config_fixture.h"

namespace {

// Started and stopped without a requester, it answered every task.
class NoRequesterTest : public EngineFixture {};

TEST_F(NoRequesterTest, TheStatusIndicatorStartedWithoutARequesterAnswersNoOne) {
  Recorder bystander(Mod::TestHarness);
  ASSERT_EQ(StatusCreateTask(nullptr), kOk);
  Pump();
  StatusStopTask(nullptr);
  Pump();
  EXPECT_TRUE(bystander.Messages().empty());
}

// ---- user preference flags ---------------------------------------------------------------

struct FlagRow {
  const char* name;
  std::optional<int32_t> tp;  // the stored "tp", or none
  uint32_t flag;
};

class UserPrefTest : public WorkDirFixture, public ::testing::WithParamInterface<FlagRow> {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    starter = std::make_unique<Recorder>(Mod::UiStart);
    writer = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
    ASSERT_EQ(ConfigStart(starter->task()), kOk);
    Pump();
  }
  void TearDown() override {
    if (TskmanFind(Mod::UserPref)) {
      UserPrefStopTask(starter->task());
      Pump();
    }
    ConfigStop();
    Pump();
    writer.reset();
    starter.reset();
    WorkDirFixture::TearDown();
  }
  void Store(int32_t tp) {
    ConfigOpen(writer->task(), "user", true);
    Pump();
    ConfigHandle* handle = nullptr;
    for (const Received& r : writer->log)
      if (r.message == ConfigMsg::Opened) handle = reinterpret_cast<ConfigHandle*>(r.arg2);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(ConfigSetInt(handle, "tp", tp), kOk);
    ASSERT_EQ(ConfigSave(handle), kOk);
    Pump();
  }

  std::unique_ptr<Recorder> starter;
  std::unique_ptr<Recorder> writer;
};

TEST_P(UserPrefTest, TheFlagIsReadFromTheSectionWhenTheTaskStarts) {
  const FlagRow& row = GetParam();
  if (row.tp) Store(*row.tp);
  EXPECT_EQ(UserPrefGetFlag(UserPrefFlag::Tp), 0u);  // no task yet
  UserPrefStartTask(starter->task());
  Pump();
  ASSERT_EQ(starter->Count(UserPrefMsg::Started), 1u);
  EXPECT_EQ(UserPrefGetFlag(UserPrefFlag::Tp), row.flag);
  EXPECT_EQ(UserPrefGetFlag(0), 0u);
  EXPECT_EQ(UserPrefGetFlag(kUserPrefFlags), 0u);
  UserPrefStopTask(starter->task());
  Pump();
  EXPECT_EQ(UserPrefGetFlag(UserPrefFlag::Tp), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, UserPrefTest,
                         ::testing::Values(FlagRow{"any_non_zero", 7, 1},
                                           FlagRow{"clear", 0, 0},
                                           FlagRow{"absent", std::nullopt, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
