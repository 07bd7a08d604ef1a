// The status indicator's messages (indicator values and the advertisement
// image it keeps) and the user preference flags read from section "user",
// each through its real task; the heap comes back to where it was.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/status.h"
#include "browser/userpref.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/kernel/config_fixture.h"

namespace {

std::vector<void*> gReleased;
void CountingRelease(void* image) {
  gReleased.push_back(image);
  MemFreeRaw(image);
}

class StatusTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    starter = std::make_unique<Recorder>(Mod::UiStart);
    Pump();
    gReleased.clear();
    baseline_ = HeapGetStats().freeBytes;
    ASSERT_EQ(StatusCreateTask(starter->task()), kOk);
    Pump();
    ASSERT_EQ(starter->Messages(), std::vector<uint32_t>{StatusMsg::Started});
  }
  void TearDown() override {
    StatusStopTask(starter->task());
    Pump();
    EXPECT_EQ(TskmanFind(Mod::Status), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, baseline_);
    StatusSetImageRelease(nullptr);
    starter.reset();
    EngineFixture::TearDown();
  }
  void Post(uint32_t message, uintptr_t arg1, uintptr_t arg2) {
    TskmanPost(TskmanFind(Mod::Status), message, arg1, arg2);
    Pump();
  }
  static void* Image() { return MemAlloc(48, Use::Data, Mod::Pict); }

  std::unique_ptr<Recorder> starter;

 private:
  uint32_t baseline_ = 0;
};

TEST_F(StatusTest, IndicatorsKeepTheirLastValueByKind) {
  EXPECT_EQ(StatusGetIndicator(StatusKind::Push), 0u);
  Post(StatusMsg::Indicator, StatusKind::Push, 10 | 0x40);
  Post(StatusMsg::Indicator, 2, 7);
  EXPECT_EQ(StatusGetIndicator(StatusKind::Push), 0x4Au);
  EXPECT_EQ(StatusGetIndicator(2), 7u);
  Post(StatusMsg::Indicator, StatusKind::Push, 1);
  EXPECT_EQ(StatusGetIndicator(StatusKind::Push), 1u);
  // A kind out of range changes nothing.
  Post(StatusMsg::Indicator, kStatusKinds, 5);
  EXPECT_EQ(StatusGetIndicator(kStatusKinds), 0u);
  // Settings notices and others' messages are ignored.
  Post(ConfigMsg::Changed, 0, 0);
  Post(Msg(Mod::Ben, 0x1B), 1, 0);
  EXPECT_EQ(StatusGetIndicator(StatusKind::Push), 1u);
  EXPECT_EQ(starter->Messages(), std::vector<uint32_t>{StatusMsg::Started});
}

TEST_F(StatusTest, TheAdvertisementImageIsKeptUntilReplacedDroppedOrTheTaskEnds) {
  StatusSetImageRelease(CountingRelease);
  void* first = Image();
  void* second = Image();
  Post(StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(first));
  EXPECT_EQ(StatusGetImage(), first);
  Post(StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(first));  // the same: kept
  EXPECT_TRUE(gReleased.empty());
  Post(StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(second));
  EXPECT_EQ(gReleased, std::vector<void*>{first});
  EXPECT_EQ(StatusGetImage(), second);
  Post(StatusMsg::AdverNone, 0, 0);
  EXPECT_EQ(gReleased, (std::vector<void*>{first, second}));
  EXPECT_EQ(StatusGetImage(), nullptr);
  Post(StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(Image()));
  // The stop in TearDown releases the last one.
}

TEST_F(StatusTest, WithTheDefaultReleaseTheImagesBlockIsFreed) {
  Post(StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(Image()));
  Post(StatusMsg::AdverImage, 0, reinterpret_cast<uintptr_t>(Image()));
}

// An answer without a requester goes nowhere: it is not broadcast.
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
    ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
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

TEST_F(UserPrefTest, WithoutARequesterNoAnswerIsBroadcast) {
  Recorder bystander(Mod::TestHarness);
  Pump();
  UserPrefStartTask(nullptr);
  Pump();
  ASSERT_NE(TskmanFind(Mod::UserPref), nullptr);
  UserPrefStopTask(nullptr);
  Pump();
  UserPrefStopTask(nullptr);  // no task left: answered at once, to no one
  Pump();
  EXPECT_TRUE(bystander.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, UserPrefTest,
                         ::testing::Values(FlagRow{"set", 1, 1}, FlagRow{"any_non_zero", 7, 1},
                                           FlagRow{"clear", 0, 0},
                                           FlagRow{"absent", std::nullopt, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
