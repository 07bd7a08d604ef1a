// The security task keeps the provider's random seed in the settings: it
// starts and stops with or without the settings store, and a seed it saved
// is the one it reads on the next run.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/config.h"
#include "security/ecapi.h"
#include "tests/kernel/config_fixture.h"

namespace {

class EcapiSeedTest : public WorkDirFixture {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    owner = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
  }
  void TearDown() override {
    if (TskmanFind(Mod::Ecapi)) {
      EcapiStopSeedTask(nullptr);
      Pump();
    }
    ConfigStop();
    Pump();
    owner.reset();
    WorkDirFixture::TearDown();
  }
  // One run of the task: started, then stopped, each answered once.
  void Run() {
    const size_t started = owner->Count(EcapiMsg::Started), stopped = owner->Count(EcapiMsg::Stopped);
    ASSERT_EQ(EcapiStartSeedTask(owner->task()), kOk);
    Pump();
    EXPECT_EQ(owner->Count(EcapiMsg::Started), started + 1);
    EXPECT_NE(TskmanFind(Mod::Ecapi), nullptr);
    EcapiStopSeedTask(owner->task());
    Pump();
    EXPECT_EQ(owner->Count(EcapiMsg::Stopped), stopped + 1);
    EXPECT_EQ(TskmanFind(Mod::Ecapi), nullptr);
  }
  std::vector<uint8_t> StoredSeed() {
    owner->log.clear();
    ConfigOpen(owner->task(), "security", false);
    Pump();
    ConfigHandle* handle = nullptr;
    for (const Received& r : owner->log)
      if (r.message == ConfigMsg::Opened) handle = reinterpret_cast<ConfigHandle*>(r.arg2);
    if (!handle) return {};
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    ConfigKind kind{};
    std::vector<uint8_t> out;
    if (ConfigGetRaw(handle, "randseed", 0, &data, &length, &kind) == kOk && data)
      out.assign(data, data + length);
    ConfigRelease(&handle);
    return out;
  }

  std::unique_ptr<Recorder> owner;
};

TEST_F(EcapiSeedTest, WithoutTheSettingsStoreTheTaskStillStartsAndStops) {
  EcapiStopSeedTask(owner->task());  // not running: answered at once
  Pump();
  EXPECT_EQ(owner->Count(EcapiMsg::Stopped), 1u);
  Run();
}

TEST_F(EcapiSeedTest, TheSeedSavedOnStopIsReadOnTheNextRun) {
  ASSERT_EQ(ConfigStart(owner->task()), kOk);
  Pump();
  Run();
  const std::vector<uint8_t> first = StoredSeed();
  EXPECT_EQ(first.size(), kEcapiSeedBytes);
  platform->now += 123456789;  // a clock seed would differ now
  Run();
  EXPECT_EQ(StoredSeed(), first);
}

}  // namespace
